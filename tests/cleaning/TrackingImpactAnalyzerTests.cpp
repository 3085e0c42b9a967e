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

TEST(TrackingImpactAnalyzer, BandsConfidenceAndTexts) {
    auto one = resultWith({RuleCategoryType::analytics}, 1).trackingImpactReport();
    EXPECT_EQ(one.categories, std::vector<TrackingCommercialCategory>{campaignAnalytics});
    EXPECT_EQ(one.impactLevel, TrackingImpactLevel::low);
    EXPECT_EQ(one.confidence, TrackingImpactConfidence::high);
    EXPECT_EQ(one.summary, "Removed 1 tracking signal tied to campaign analytics.");
    EXPECT_EQ(one.explanation, "Helps marketers measure which campaign, source, or creative drove the click.");

    // Two rule categories with one purpose count once; the second signal adds one.
    auto shop = TrackingImpactAnalyzer::analyze(
        resultWith({RuleCategoryType::ecommerce, RuleCategoryType::referralMarketing}, 2));
    EXPECT_EQ(shop.categories, std::vector<TrackingCommercialCategory>{directCommercialAttribution});
    EXPECT_EQ(shop.impactLevel, TrackingImpactLevel::high);
    EXPECT_EQ(shop.summary, "Removed 2 tracking signals tied to direct commercial attribution.");

    auto many = TrackingImpactAnalyzer::analyze(
        resultWith({RuleCategoryType::advertising, RuleCategoryType::analytics, RuleCategoryType::emailMarketing}, 9));
    EXPECT_EQ(many.categories, (std::vector<TrackingCommercialCategory>{adPlatformAttribution, behavioralCorrelation,
                                                                        campaignAnalytics}));
    EXPECT_EQ(many.impactLevel, TrackingImpactLevel::veryHigh);
    EXPECT_EQ(many.confidence, TrackingImpactConfidence::medium);
    EXPECT_EQ(many.totalSignals, 9);
    EXPECT_EQ(many.summary,
              "Removed 9 tracking signals across ad and social attribution, behavioral correlation, and other "
              "tracking categories.");
    EXPECT_EQ(many.explanation,
              "Helps ad and social platforms connect a click to later behavior or conversions. Helps companies "
              "connect this click to a broader profile across emails, campaigns, or sessions.");

    auto twoPurposes = TrackingImpactAnalyzer::analyze(
        resultWith({RuleCategoryType::socialMedia, RuleCategoryType::redirectUnwrapping}, 2));
    EXPECT_EQ(twoPurposes.summary,
              "Removed 2 tracking signals tied to ad and social attribution and redirect tracking.");
    EXPECT_EQ(twoPurposes.impactLevel, TrackingImpactLevel::high);  // 4 + 3

    auto redirect = TrackingImpactAnalyzer::analyze(resultWith({RuleCategoryType::redirectUnwrapping}, 1));
    EXPECT_EQ(redirect.impactLevel, TrackingImpactLevel::medium);
    EXPECT_EQ(redirect.confidence, TrackingImpactConfidence::medium);
}

TEST(TrackingImpactAnalyzer, WithoutCategories) {
    // A changed link counts as at least one signal (a front-end rewrite alone, say).
    auto rewrite = TrackingImpactAnalyzer::analyze(resultWith({}, 0));
    EXPECT_EQ(rewrite.totalSignals, 1);
    EXPECT_EQ(rewrite.impactLevel, TrackingImpactLevel::low);
    EXPECT_EQ(rewrite.confidence, TrackingImpactConfidence::low);
    EXPECT_EQ(rewrite.summary, "Removed 1 tracking signal.");
    EXPECT_EQ(rewrite.explanation, "These parameters can help companies measure, route, or correlate your click.");

    auto nothing = TrackingImpactAnalyzer::analyze(resultWith({}, 0, false));
    EXPECT_EQ(nothing.impactLevel, TrackingImpactLevel::negligible);
    EXPECT_EQ(nothing.summary, "Removed 0 tracking signals.");

    // User blocklist removals add no category; extra signals are capped at three.
    auto blocked = TrackingImpactAnalyzer::analyze(resultWith({}, 7));
    EXPECT_EQ(blocked.totalSignals, 7);
    EXPECT_EQ(blocked.impactLevel, TrackingImpactLevel::medium);

    auto negative = TrackingImpactAnalyzer::analyze(resultWith({RuleCategoryType::custom}, -4));
    EXPECT_EQ(negative.totalSignals, 0);
    EXPECT_EQ(negative.impactLevel, TrackingImpactLevel::low);
}

}  // namespace
}  // namespace tessaril
