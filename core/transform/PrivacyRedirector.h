// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/transform/PrivacyRedirectResult.h"
#include "core/transform/PrivacyRedirectSettings.h"

#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// Rewrites X/Twitter and Reddit links onto privacy-friendly front ends. Purely textual and local:
// the scheme, host and port become the front end's, credentials are dropped, and the path, query and
// fragment are kept byte for byte. Stateless; safe to call from any thread.
class PrivacyRedirector {
public:
    // The rewrite of `urlString` under `settings`, or nothing when no enabled rewrite applies (not a
    // web link, a host outside both sets, an unusable front end, or a link already on the front end).
    [[nodiscard]] std::optional<PrivacyRedirectResult> redirect(std::string_view urlString,
                                                                const PrivacyRedirectSettings& settings) const;

    // Turns a front-end setting into a root URL text ("https://host" or "http://host:port", never a
    // trailing "/"): a bare host gains "https://", a path is dropped, and an unusable value (not
    // http(s), no host, credentials, a query or a fragment) falls back to `fallback`.
    [[nodiscard]] static std::optional<std::string> normalizedFrontendBaseURL(std::string_view base,
                                                                              std::optional<std::string_view> fallback);

    // Membership of a lower-case host in the fixed sets. Only the listed hosts count; other
    // subdomains of the same sites are left alone.
    [[nodiscard]] static bool isXTwitterHost(std::string_view lowerCaseHost);
    [[nodiscard]] static bool isRedditHost(std::string_view lowerCaseHost);
};

}  // namespace tessaril
