// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/CleanOutcome.h"
#include "core/cleaning/CleanResult.h"

#include <gtest/gtest.h>

namespace tessaril {
namespace {

CleanResult sampleResult() {
    CleanResult result;
    result.originalURL = "https://x.com/a?s=1";
    result.cleanedURL = "https://xcancel.com/a";
    result.paramsRemoved = 1;
    result.removedQueryParameters = {"s"};
    result.matchedRuleIDs = {"Social Media:s"};
    // Inserted out of order: the JSON lists categories in declaration order.
    result.matchedCategories = {RuleCategoryType::redirectUnwrapping, RuleCategoryType::analytics};
    result.cleanedOriginalURL = "https://x.com/a";
    result.privacyRedirect = PrivacyRedirectInfo{PrivacyRedirectService::xTwitter, "x.com", "xcancel.com"};
    CleanOperation removal{CleanOperationKind::localParameterRemoval,
                           "https://x.com/a?s=1",
                           "https://x.com/a",
                           {"s"},
                           false,
                           std::nullopt,
                           std::nullopt};
    CleanOperation rewrite{
        CleanOperationKind::privacyRedirect,    "https://x.com/a", "https://xcancel.com/a", {}, false, std::nullopt,
        "User-enabled privacy frontend rewrite"};
    result.operations = {removal, rewrite};
    return result;
}

TEST(CleanRecords, ResultJsonRoundTripAndShape) {
    const CleanResult result = sampleResult();
    const auto json = result.toJson();
    EXPECT_EQ(json.dump(),
              R"({"originalURL":"https://x.com/a?s=1","cleanedURL":"https://xcancel.com/a","paramsRemoved":1,)"
              R"("removedQueryParameters":["s"],"matchedRuleIDs":["Social Media:s"],)"
              R"("matchedCategories":["Analytics","Redirect Unwrapping"],"cleanedOriginalURL":"https://x.com/a",)"
              R"("privacyRedirect":{"service":"xTwitter","originalHost":"x.com","frontendHost":"xcancel.com"},)"
              R"("operations":[{"kind":"local_parameter_removal","inputURL":"https://x.com/a?s=1",)"
              R"("outputURL":"https://x.com/a","removedParameters":["s"],"networkUsed":false},)"
              R"({"kind":"privacy_redirect","inputURL":"https://x.com/a","outputURL":"https://xcancel.com/a",)"
              R"("removedParameters":[],"networkUsed":false,"note":"User-enabled privacy frontend rewrite"}]})");
    EXPECT_EQ(CleanResult::fromJson(nlohmann::json::parse(json.dump())), result);

    // Only the first three keys are required; lists default to empty, null reads as absent.
    auto minimal = CleanResult::fromJson(nlohmann::json::parse(
        R"({"originalURL":"a","cleanedURL":"b","paramsRemoved":0,"privacyRedirect":null,"operations":null})"));
    ASSERT_TRUE(minimal.has_value());
    EXPECT_TRUE(minimal->operations.empty());
    EXPECT_FALSE(minimal->privacyRedirect.has_value());

    for (const char* key : {"originalURL", "cleanedURL", "paramsRemoved"}) {
        auto missing = nlohmann::json::parse(json.dump());
        missing.erase(key);
        EXPECT_FALSE(CleanResult::fromJson(missing).has_value()) << key;
    }
    for (auto [key, value] : std::vector<std::pair<std::string, nlohmann::json>>{
             {"paramsRemoved", 1.5},
             {"matchedCategories", nlohmann::json::array({"Tracking"})},
             {"removedQueryParameters", nlohmann::json::array({1})},
             {"cleanedOriginalURL", 3},
             {"privacyRedirect", nlohmann::json::object({{"service", "mastodon"}})},
             {"operations", nlohmann::json::array({nlohmann::json::object()})}}) {
        auto wrong = nlohmann::json::parse(json.dump());
        wrong[key] = value;
        EXPECT_FALSE(CleanResult::fromJson(wrong).has_value()) << key;
    }
}

TEST(CleanRecords, OperationJsonLeavesOutAbsentOptionals) {
    CleanOperation resolution{CleanOperationKind::networkResolution, "a", "b", {}, true, "share.example", std::nullopt};
    EXPECT_EQ(resolution.toJson().dump(),
              R"({"kind":"network_resolution","inputURL":"a","outputURL":"b","removedParameters":[],)"
              R"("networkUsed":true,"contactedHost":"share.example"})");
    EXPECT_EQ(CleanOperation::fromJson(nlohmann::json::parse(resolution.toJson().dump())), resolution);
    for (const char* key : {"kind", "inputURL", "outputURL", "removedParameters", "networkUsed"}) {
        auto missing = nlohmann::json::parse(resolution.toJson().dump());
        missing.erase(key);
        EXPECT_FALSE(CleanOperation::fromJson(missing).has_value()) << key;
    }
    auto unknownKind = nlohmann::json::parse(resolution.toJson().dump());
    unknownKind["kind"] = "networkResolution";
    EXPECT_FALSE(CleanOperation::fromJson(unknownKind).has_value());

    for (auto kind : {CleanOperationKind::localParameterRemoval, CleanOperationKind::offlineWrapperUnwrap,
                      CleanOperationKind::offlinePathRewrite, CleanOperationKind::privacyRedirect,
                      CleanOperationKind::networkResolution, CleanOperationKind::functionalTransformation}) {
        EXPECT_EQ(cleanOperationKindFromRawValue(rawValue(kind)), kind);
    }
    EXPECT_EQ(rawValue(CleanOperationKind::functionalTransformation), "functional_transformation");
}

TEST(CleanRecords, AppendingOperationCopies) {
    const CleanResult result = sampleResult();
    CleanOperation map{CleanOperationKind::functionalTransformation,
                       "https://xcancel.com/a",
                       "maps://a",
                       {},
                       false,
                       std::nullopt,
                       std::nullopt};
    const CleanResult kept = result.appendingOperation(map);
    EXPECT_EQ(kept.cleanedURL, result.cleanedURL);
    ASSERT_EQ(kept.operations.size(), 3u);
    EXPECT_EQ(kept.operations.back(), map);
    EXPECT_EQ(result.operations.size(), 2u);
    EXPECT_EQ(result.appendingOperation(map, "maps://a").cleanedURL, "maps://a");
}

TEST(CleanRecords, OutcomeKindsAndJson) {
    const auto cleaned = CleanOutcome::cleaned(sampleResult());
    ASSERT_NE(cleaned.result(), nullptr);
    EXPECT_EQ(cleaned.host(), nullptr);
    const auto skipped = CleanOutcome::skippedDisabled("example.org");
    EXPECT_EQ(skipped.kind(), CleanOutcome::Kind::skippedDisabled);
    EXPECT_EQ(*skipped.host(), "example.org");
    EXPECT_EQ(skipped.result(), nullptr);
    EXPECT_EQ(skipped.toJson().dump(), R"({"outcome":"skippedDisabled","host":"example.org"})");
    EXPECT_EQ(CleanOutcome::invalid().toJson().dump(), R"({"outcome":"invalid"})");
    EXPECT_NE(CleanOutcome::unchanged(), CleanOutcome::invalid());

    for (const auto& outcome : {cleaned, skipped, CleanOutcome::unchanged(), CleanOutcome::invalid()})
        EXPECT_EQ(CleanOutcome::fromJson(nlohmann::json::parse(outcome.toJson().dump())), outcome);
    EXPECT_FALSE(CleanOutcome::fromJson(nlohmann::json::parse(R"({"outcome":"cleaned"})")).has_value());
    EXPECT_FALSE(CleanOutcome::fromJson(nlohmann::json::parse(R"({"outcome":"skippedDisabled"})")).has_value());
    EXPECT_FALSE(CleanOutcome::fromJson(nlohmann::json::parse(R"({"outcome":"Cleaned"})")).has_value());
}

TEST(CleanRecords, CategorySetIteratesInDeclarationOrder) {
    RuleCategorySet set;
    EXPECT_TRUE(set.empty());
    EXPECT_EQ(set.begin(), set.end());
    set.insert(RuleCategoryType::custom);
    set.insert(RuleCategoryType::analytics);
    set.insert(RuleCategoryType::custom);
    set.insert(RuleCategorySet{RuleCategoryType::ecommerce});
    EXPECT_EQ(set.size(), 3u);
    EXPECT_EQ(std::vector<RuleCategoryType>(set.begin(), set.end()),
              (std::vector<RuleCategoryType>{RuleCategoryType::analytics, RuleCategoryType::ecommerce,
                                             RuleCategoryType::custom}));
    set.erase(RuleCategoryType::analytics);
    EXPECT_FALSE(set.contains(RuleCategoryType::analytics));
    EXPECT_TRUE(set.contains(RuleCategoryType::custom));
}

}  // namespace
}  // namespace tessaril
