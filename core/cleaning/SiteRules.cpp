// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/SiteRules.h"

#include "core/foundation/Text.h"

#include <algorithm>
#include <string>

namespace tessaril::site_rules {

namespace {

// The host is the domain itself or one of its subdomains.
bool isOnDomain(std::string_view lowerHost, std::string_view domain) {
    if (lowerHost == domain) return true;
    return lowerHost.size() > domain.size() && lowerHost.ends_with(domain) &&
           lowerHost[lowerHost.size() - domain.size() - 1] == '.';
}

bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

}  // namespace

std::optional<std::string> lowerCaseHost(const URLComponents& components) {
    auto encoded = components.percentEncodedHost();
    if (!encoded) return std::nullopt;
    std::string scratch;
    return text::toLower(text::percentDecodedView(*encoded, scratch));
}

std::span<const std::string_view> redditJSChallengeParamsToStrip(const URLComponents& components,
                                                                 std::optional<std::string_view> lowerHost) {
    if (!lowerHost || !isOnDomain(*lowerHost, redditPrimaryDomain)) return {};
    bool hasSolution = false;
    bool hasToken = false;
    std::string nameScratch;
    std::string valueScratch;
    for (const auto& item : components.percentEncodedQueryItemViews()) {
        const std::string_view name = text::percentDecodedView(item.name, nameScratch);
        if (name == "jsc_orig_r") return redditJSChallengeParams;
        if (name == "js_challenge" && item.value && text::percentDecodedView(*item.value, valueScratch) == "1") {
            return redditJSChallengeParams;
        }
        hasSolution = hasSolution || name == "solution";
        hasToken = hasToken || name == "token";
        if (hasSolution && hasToken) return redditJSChallengeParams;
    }
    return {};
}

bool isGoogleSearchURL(const URLComponents& components, std::optional<std::string_view> lowerHost) {
    if (!lowerHost || !isOnDomain(*lowerHost, googleSearchPrimaryDomain)) return false;
    std::string scratch;
    if (text::percentDecodedView(components.percentEncodedPath(), scratch) != "/search") return false;
    for (const auto& item : components.percentEncodedQueryItemViews()) {
        if (text::percentDecodedView(item.name, scratch) == "q") return true;
    }
    return false;
}

bool shouldClearGoogleSearchLocalFragment(const URLComponents& components) {
    auto encoded = components.percentEncodedFragment();
    if (!encoded || encoded->empty()) return false;
    const auto host = lowerCaseHost(components);
    if (!isGoogleSearchURL(components, host ? std::optional<std::string_view>(*host) : std::nullopt)) return false;
    std::string scratch;
    const std::string_view fragment = text::percentDecodedView(*encoded, scratch);
    return std::any_of(googleSearchLocalFragmentMarkers.begin(), googleSearchLocalFragmentMarkers.end(),
                       [fragment](std::string_view marker) { return fragment.find(marker) != std::string_view::npos; });
}

bool isKeptOnMusicSite(std::string_view name) {
    return std::any_of(youTubeMusicKeptParams.begin(), youTubeMusicKeptParams.end(),
                       [name](std::string_view kept) { return asciiEqualsIgnoringCase(name, kept); });
}

}  // namespace tessaril::site_rules
