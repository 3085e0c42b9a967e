// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tessaril::filters {

// Why a line of an ad-blocking filter list was not taken. Each names a shape of rule that a
// provider (a URL pattern, parameter-name patterns, exception URL patterns) cannot say faithfully;
// the converter leaves such rules out rather than guess at them.
enum class SkipReason {
    wholeQuery,         // "$removeparam" alone: drops every parameter of the link
    keepOnly,           // "$removeparam=~name": drops every parameter but one
    valueRegex,         // a regular expression over "name=value" that looks at the value
    badRegex,           // a regular expression ICU does not read the same way
    requestType,        // limited to requests that are not a page opened from a link (scripts, images, XHR)
    unanchoredPattern,  // a URL pattern that does not start at a host
    otherModifier,      // a modifier with no equivalent (third-party, redirects, headers, ...)
    notParameterRule,   // a cosmetic or blocking rule: nothing about parameters
    notText,            // bytes that are not UTF-8 text, which no rule file may hold
};

[[nodiscard]] std::string_view describe(SkipReason reason);

// One parameter rule of the list, in the terms of a provider.
struct FilterRule {
    // "@@": the list's exception, which keeps the parameter where the pattern matches.
    bool exception = false;
    // The URL pattern the rule is limited to (ICU syntax, matched from the start of the link); empty
    // when it applies on every site.
    std::string urlPattern;
    // Sites the rule is not applied on ("~site" in $domain=), as URL patterns.
    std::vector<std::string> excludedUrlPatterns;
    // Matches a whole parameter name (the provider format anchors it), case-insensitively; empty
    // for an exception that keeps every parameter.
    std::string namePattern;
    // The rule as the list names it, for display: "gclid" or "/^cm_mmc/".
    std::string label;
    // The site the rule is limited to as the list writes it ("example.com", "cdn.example.com/data/"),
    // for names and categories; empty for a rule on every site.
    std::string site;
};

// Reads one line of the list (a comment or blank line is the caller's). A rule limited to several
// sites ($domain=a|b) gives one rule per site.
[[nodiscard]] std::variant<std::vector<FilterRule>, SkipReason> parseFilterLine(std::string_view line);

// The URL pattern of a host and its subdomains ("*" in the host stands for any run of host
// characters), optionally followed by the start of a path.
[[nodiscard]] std::string hostUrlPattern(std::string_view host, std::string_view pathPattern = {});

}  // namespace tessaril::filters
