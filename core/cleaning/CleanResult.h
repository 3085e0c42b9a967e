// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanOperation.h"
#include "core/cleaning/RuleCategorySet.h"
#include "core/cleaning/TrackingImpactReport.h"
#include "core/transform/PrivacyRedirectInfo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// Everything one clean did to a link, step by step. Statistics, notifications, the last-clean view
// and the missed-tracker report all read it, so it is kept complete rather than minimal.
struct CleanResult {
    // The trimmed input.
    std::string originalURL;
    // The final link.
    std::string cleanedURL;
    // Tracking signals removed: query items, a cleared local-state fragment, an unwrapped wrapper,
    // a path cleanup that removed no parameter.
    std::int64_t paramsRemoved = 0;
    // One name per removed query item, in the link's order (decoded, duplicates kept).
    std::vector<std::string> removedQueryParameters;
    // Rule identifiers in the order they matched.
    std::vector<std::string> matchedRuleIDs;
    RuleCategorySet matchedCategories;
    // The cleaned link before the privacy rewrite; only present when one happened.
    std::optional<std::string> cleanedOriginalURL;
    std::optional<PrivacyRedirectInfo> privacyRedirect;
    std::vector<CleanOperation> operations;

    bool operator==(const CleanResult&) const = default;

    // A copy with `operation` appended; without a new cleaned link the current one stays.
    [[nodiscard]] CleanResult appendingOperation(CleanOperation operation,
                                                 std::optional<std::string> newCleanedURL = std::nullopt) const;

    // The impact judgement of this clean (TrackingImpactAnalyzer::analyze).
    [[nodiscard]] TrackingImpactReport trackingImpactReport() const;

    // The fields under their names in declaration order; matchedCategories as raw values in category
    // order; absent optionals are left out.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // originalURL, cleanedURL and paramsRemoved are required; the lists default to empty and the
    // optionals to absent (null reads as absent). A present value of the wrong type, or an unknown
    // category, fails the whole record.
    [[nodiscard]] static std::optional<CleanResult> fromJson(const nlohmann::json& json);
};

}  // namespace tessaril
