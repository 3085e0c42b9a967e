// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/UnknownParameterDetector.h"

#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

#include <algorithm>
#include <array>

namespace tessaril::UnknownParameterDetector {

namespace {

constexpr std::array<std::string_view, 6> kSuspiciousPrefixes = {
    "utm_", "tracking_", "tracker_", "share_", "campaign_", "referral_",
};

bool isNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The name shape of `namePattern`, checked by hand: this runs on every copied link, from any
// thread, and a shared compiled expression could not be used from two threads at once.
bool hasNameShape(std::string_view name) {
    if (name.empty() || name.size() > 64 || !isNameStart(name.front())) return false;
    return std::all_of(name.begin() + 1, name.end(),
                       [](char c) { return isNameStart(c) || c == '.' || c == '~' || c == '-'; });
}

bool hasSuspiciousPrefix(std::string_view name) {
    const std::string lower = text::asciiLower(name);
    return std::any_of(kSuspiciousPrefixes.begin(), kSuspiciousPrefixes.end(),
                       [&](std::string_view prefix) { return lower.starts_with(prefix); });
}

}  // namespace

std::vector<std::string> inspect(std::string_view urlString) {
    if (urlString.size() > inputLimit) return {};
    auto components = URLComponents::parse(urlString);
    if (!components) return {};
    auto scheme = components->scheme();
    if (!scheme) return {};
    const std::string lowerScheme = text::asciiLower(*scheme);
    if (lowerScheme != "http" && lowerScheme != "https") return {};
    // A link carrying credentials is not something to suggest blocking rules from.
    if (components->percentEncodedHost().value_or("").empty() || components->percentEncodedUser() ||
        components->percentEncodedPassword()) {
        return {};
    }

    std::vector<std::string> names;
    for (const auto& item : components->percentEncodedQueryItemViews()) {
        // Names are judged decoded, as the user would type them into a block; a name whose escapes do
        // not decode cannot have the shape anyway.
        auto name = text::percentDecode(item.name);
        if (!name || !hasNameShape(*name) || !hasSuspiciousPrefix(*name)) continue;
        names.push_back(std::move(*name));
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    if (names.size() > resultLimit) names.resize(resultLimit);
    return names;
}

}  // namespace tessaril::UnknownParameterDetector
