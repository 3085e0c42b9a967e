// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/CleanResult.h"
#include "core/cleaning/TrackingImpactAnalyzer.h"
#include "tests/support/CaseTable.h"

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
    const auto cases = testing::readCases("cleaning/tracking-impact.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        RuleCategorySet matched;
        for (const auto& name : row[0])
            matched.insert(*ruleCategoryTypeFromRawValue(name.get<std::string>()));
        EXPECT_EQ(described(TrackingImpactAnalyzer::analyze(resultWith(matched, row[1]))), row[2]) << row;
    }
    EXPECT_EQ(described(resultWith({}, 0, false).trackingImpactReport()),
              "0 Negligible/Low: Removed 0 tracking signals.");

    using enum RuleCategoryType;
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
