// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// The running application's version, as update checks compare it.
struct AppVersion {
    std::string shortVersion;
    std::int64_t build;

    // From the texts compiled into the build; "1.3" and build 21 stand in for a version that is
    // missing or empty and a build that is missing or no decimal number (a leading sign is allowed).
    [[nodiscard]] static AppVersion from(std::optional<std::string_view> shortVersion,
                                         std::optional<std::string_view> build);
    // The one compiled into this build.
    [[nodiscard]] static AppVersion compiled();

    bool operator==(const AppVersion&) const = default;
};

}  // namespace tessaril
