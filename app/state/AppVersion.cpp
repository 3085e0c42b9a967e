// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/state/AppVersion.h"

#include <charconv>

namespace tessaril {

AppVersion AppVersion::from(std::optional<std::string_view> shortVersion, std::optional<std::string_view> build) {
    AppVersion version{"1.3", 21};
    if (shortVersion && !shortVersion->empty()) version.shortVersion = *shortVersion;
    if (build) {
        std::string_view digits = *build;
        // from_chars takes a minus sign but not a plus.
        if (digits.starts_with('+') && !digits.starts_with("+-")) digits.remove_prefix(1);
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (error == std::errc() && end == digits.data() + digits.size()) version.build = number;
    }
    return version;
}

AppVersion AppVersion::compiled() {
#ifdef TESSARIL_VERSION
    const std::optional<std::string_view> shortVersion = TESSARIL_VERSION;
#else
    const std::optional<std::string_view> shortVersion;
#endif
#ifdef TESSARIL_BUILD
    const std::optional<std::string_view> build = TESSARIL_BUILD;
#else
    const std::optional<std::string_view> build;
#endif
    return from(shortVersion, build);
}

}  // namespace tessaril
