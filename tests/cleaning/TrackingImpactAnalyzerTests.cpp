// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/CleanResult.h"
#include "core/cleaning/TrackingImpactAnalyzer.h"

#include <gtest/gtest.h>

namespace tessaril {
namespace {

using enum TrackingCommercialCategory;

CleanResult resultWith(RuleCategorySet categories, std::int64_t paramsRemoved, bool changed = true) {
    CleanResult result;
    result.originalURL = "https://e.example/?a=1";
    result.cleanedURL = changed ? "https://e.example/" : result.originalURL;
    result.matchedCategories = categories;
    result.paramsRemoved = paramsRemoved;
    return result;
}

// Signals, impact level / confidence: summary.
std::string described(const TrackingImpactReport& report) {
    return std::to_string(report.totalSignals) + " " + std::string(rawValue(report.impactLevel)) + "/" +
           std::string(rawValue(report.confidence)) + ": " + report.summary;
}

TEST(TrackingImpactAnalyzer, BandsConfidenceAndTexts) {
    using enum RuleCategoryType;
    const std::tuple<RuleCategorySet, std::int64_t, std::string> cases[] = {
        {{analytics}, 1, "1 Low/High: Removed 1 tracking signal tied to campaign analytics."},
        // Signals beyond one per purpose add at most three.
        {{analytics}, 20, "20 Medium/High: Removed 20 tracking signals tied to campaign analytics."},
        // Two rule categories with one purpose count once; the second signal adds one.
        {{ecommerce, referralMarketing},
         2,
         "2 High/High: Removed 2 tracking signals tied to direct commercial attribution."},
        {{advertising, analytics, emailMarketing},
         9,
         "9 Very High/Medium: Removed 9 tracking signals across ad and social attribution, behavioral correlation, "
         "and other tracking categories."},
        {{socialMedia, redirectUnwrapping},
         2,  // 4 + 3
         "2 High/Medium: Removed 2 tracking signals tied to ad and social attribution and redirect tracking."},
        {{redirectUnwrapping}, 1, "1 Medium/Medium: Removed 1 tracking signal tied to redirect tracking."},
        // A changed link counts as at least one signal (a front-end rewrite alone, say).
        {{}, 0, "1 Low/Low: Removed 1 tracking signal."},
        // User blocklist removals add no category.
        {{}, 7, "7 Medium/Low: Removed 7 tracking signals."},
        {{custom}, -4, "0 Low/Medium: Removed 0 tracking signals tied to behavioral correlation."},
    };
    for (const auto& [matched, removed, expected] : cases)
        EXPECT_EQ(described(TrackingImpactAnalyzer::analyze(resultWith(matched, removed))), expected);
    EXPECT_EQ(described(resultWith({}, 0, false).trackingImpactReport()),
              "0 Negligible/Low: Removed 0 tracking signals.");

    const auto many = TrackingImpactAnalyzer::analyze(resultWith({advertising, analytics, emailMarketing}, 9));
    EXPECT_EQ(many.categories, (std::vector<TrackingCommercialCategory>{adPlatformAttribution, behavioralCorrelation,
                                                                        campaignAnalytics}));
    EXPECT_EQ(many.explanation,
              "Helps ad and social platforms connect a click to later behavior or conversions. Helps companies "
              "connect this click to a broader profile across emails, campaigns, or sessions.");
    EXPECT_EQ(TrackingImpactAnalyzer::analyze(resultWith({}, 0)).explanation,
              "These parameters can help companies measure, route, or correlate your click.");
}

}  // namespace
}  // namespace tessaril
