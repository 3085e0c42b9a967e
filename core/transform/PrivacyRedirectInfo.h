// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/transform/PrivacyRedirectService.h"

#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// What a clean result keeps about a privacy rewrite.
struct PrivacyRedirectInfo {
    PrivacyRedirectService service = PrivacyRedirectService::xTwitter;
    // The link's host, lower case.
    std::string originalHost;
    // The front end's host, lower case.
    std::string frontendHost;

    // The keys "service", "originalHost", "frontendHost".
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // All three keys are required as strings, and the service must be a known one.
    [[nodiscard]] static std::optional<PrivacyRedirectInfo> fromJson(const nlohmann::json& json);

    bool operator==(const PrivacyRedirectInfo&) const = default;
};

}  // namespace tessaril
