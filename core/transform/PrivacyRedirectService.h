// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

namespace tessaril {

// The sites whose links can be opened on a privacy-friendly front end instead.
enum class PrivacyRedirectService { xTwitter, reddit };

// "xTwitter" or "reddit": the display identifier and the JSON form.
[[nodiscard]] constexpr std::string_view rawValue(PrivacyRedirectService service) {
    switch (service) {
        case PrivacyRedirectService::xTwitter:
            return "xTwitter";
        case PrivacyRedirectService::reddit:
            return "reddit";
    }
    return "xTwitter";
}

[[nodiscard]] constexpr std::optional<PrivacyRedirectService> privacyRedirectServiceFromRawValue(std::string_view raw) {
    for (auto service : {PrivacyRedirectService::xTwitter, PrivacyRedirectService::reddit}) {
        if (rawValue(service) == raw) return service;
    }
    return std::nullopt;
}

}  // namespace tessaril
