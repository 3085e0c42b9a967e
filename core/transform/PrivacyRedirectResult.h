// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/transform/PrivacyRedirectInfo.h"
#include "core/transform/PrivacyRedirectService.h"

#include <string>

namespace tessaril {

// One rewrite of a link onto a privacy front end.
struct PrivacyRedirectResult {
    // The input exactly as given.
    std::string originalURL;
    std::string redirectedURL;
    PrivacyRedirectService service = PrivacyRedirectService::xTwitter;
    std::string originalHost;
    std::string frontendHost;

    [[nodiscard]] PrivacyRedirectInfo info() const { return {service, originalHost, frontendHost}; }

    bool operator==(const PrivacyRedirectResult&) const = default;
};

}  // namespace tessaril
