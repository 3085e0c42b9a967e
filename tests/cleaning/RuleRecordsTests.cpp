// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/Provider.h"
#include "core/cleaning/RuleCategory.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/RuleEntry.h"
#include "core/cleaning/RulesEngine.h"

#include <gtest/gtest.h>

#include <string>

namespace tessaril {
namespace {

TEST(RuleCategoryType, RawValuesRoundTripInDeclarationOrder) {
    std::vector<std::string> names;
    for (auto type : kAllRuleCategoryTypes) {
        names.emplace_back(rawValue(type));
        EXPECT_EQ(ruleCategoryTypeFromRawValue(rawValue(type)), type);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Analytics", "Social Media", "Advertising", "Referral Marketing",
                                               "Redirect Unwrapping", "E-commerce", "Email Marketing", "Custom"}));
    EXPECT_FALSE(ruleCategoryTypeFromRawValue("analytics").has_value());
}

TEST(RuleEntry, JsonRoundTripAndStrictDecoding) {
    RuleEntry entry(std::nullopt, "gclid", "gclid", RuleCategoryType::advertising, RuleEntry::Source::fallback, false);
    entry.setMatchCount(7);
    EXPECT_EQ(entry.id(), "Advertising:gclid");
    auto json = entry.toJson();
    EXPECT_EQ(json.dump(),
              R"({"id":"Advertising:gclid","pattern":"gclid","displayName":"gclid","category":"Advertising",)"
              R"("source":"Built-in","isEnabled":false,"matchCount":7})");

    auto decoded = RuleEntry::fromJson(nlohmann::json::parse(json.dump()));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ((*decoded)->toJson(), json);

    for (const char* key : {"id", "pattern", "displayName", "category", "source", "isEnabled", "matchCount"}) {
        auto missing = nlohmann::json::parse(json.dump());
        missing.erase(key);
        EXPECT_FALSE(RuleEntry::fromJson(missing).has_value()) << key;
    }
    auto wrong = nlohmann::json::parse(json.dump());
    wrong["isEnabled"] = 1;
    EXPECT_FALSE(RuleEntry::fromJson(wrong).has_value());
    wrong = nlohmann::json::parse(json.dump());
    wrong["matchCount"] = 1.5;
    EXPECT_FALSE(RuleEntry::fromJson(wrong).has_value());
    wrong = nlohmann::json::parse(json.dump());
    wrong["source"] = "Imported";
    EXPECT_FALSE(RuleEntry::fromJson(wrong).has_value());
}

TEST(RuleEntry, SignalsFireOnlyOnRealChanges) {
    RuleEntry entry("x", "x", "x", RuleCategoryType::custom, RuleEntry::Source::custom);
    int enabledChanges = 0;
    int countChanges = 0;
    auto a = entry.enabledChanged().connect([&](bool) { ++enabledChanges; });
    auto b = entry.matchCountChanged().connect([&](std::int64_t) { ++countChanges; });
    entry.setEnabled(true);
    entry.setEnabled(false);
    entry.setMatchCount(0);
    entry.setMatchCount(3);
    EXPECT_EQ(enabledChanges, 1);
    EXPECT_EQ(countChanges, 1);
}

TEST(RuleCategory, JsonIgnoresIdAndCountsDerivedValues) {
    auto json = nlohmann::json::parse(R"({"id":"Custom","type":"Advertising","isEnabled":false,"matchCount":4,"rules":[
        {"id":"A:x","pattern":"x","displayName":"x","category":"Advertising","source":"Custom","isEnabled":true,"matchCount":2},
        {"id":"A:y","pattern":"y","displayName":"y","category":"Advertising","source":"Custom","isEnabled":false,"matchCount":5}]})");
    auto category = RuleCategory::fromJson(json);
    ASSERT_TRUE(category.has_value());
    EXPECT_EQ((*category)->id(), "Advertising");
    EXPECT_FALSE((*category)->isEnabled());
    EXPECT_EQ((*category)->matchCount(), 4);
    EXPECT_EQ((*category)->totalMatchCount(), 7);
    EXPECT_EQ((*category)->enabledRuleCount(), 1u);
    EXPECT_EQ((*category)->toJson()["id"], "Advertising");

    json.erase("matchCount");
    EXPECT_FALSE(RuleCategory::fromJson(json).has_value());
}

TEST(RuleCategory, FirstRuleIndexFollowsEveryChange) {
    RuleCategory category(RuleCategoryType::custom);
    auto first =
        std::make_shared<RuleEntry>("Custom:a", "a", "first", RuleCategoryType::custom, RuleEntry::Source::custom);
    auto second =
        std::make_shared<RuleEntry>("Custom:a", "a", "second", RuleCategoryType::custom, RuleEntry::Source::fallback);
    category.appendRule(first);
    category.appendRule(second);
    EXPECT_EQ(category.firstRule("Custom:a"), first.get());
    category.removeRulesIf([](const RuleEntry& rule) { return rule.source() == RuleEntry::Source::custom; });
    EXPECT_EQ(category.firstRule("Custom:a"), second.get());
    category.insertRule(0, first);
    EXPECT_EQ(category.firstRule("Custom:a"), first.get());
    EXPECT_EQ(category.firstRule("Custom:b"), nullptr);
}

TEST(ProvidersFile, KeepsFileOrderAndDefaults) {
    auto file = ProvidersFile::decode(R"({"providers":{
        "zeta":{"rules":["a"],"extra":{"x":1}},
        "alpha":{"urlPattern":"^https://a","completeProvider":true,"referralMarketing":["r"],"forceRedirection":true},
        "zeta":{"rules":["b","c"]}},
      "ignored":[1,2]})");
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(file->providers.size(), 2u);
    // A repeated name keeps its first position and its last value.
    EXPECT_EQ(file->providers[0].first, "zeta");
    EXPECT_EQ(file->providers[0].second.rules, (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(file->providers[0].second.urlPattern, "");
    EXPECT_FALSE(file->providers[0].second.completeProvider);
    const Provider& alpha = file->providers[1].second;
    EXPECT_EQ(file->providers[1].first, "alpha");
    EXPECT_TRUE(alpha.completeProvider);
    EXPECT_TRUE(alpha.forceRedirection);
    EXPECT_EQ(alpha.allParamPatterns(), (std::vector<std::string>{"r"}));
    EXPECT_TRUE(ProvidersFile::decode(R"({"providers":{}})").has_value());
}

TEST(ProvidersFile, FailsAsAWholeOnWrongShapes) {
    for (const char* text : {"", "not json", "[]", R"({"rules":{}})", R"({"providers":[]})", R"({"providers":null})",
                             R"({"providers":{"p":5}})", R"({"providers":{"p":{"rules":"x"}}})",
                             R"({"providers":{"p":{"rules":["a",1]}}})", R"({"providers":{"p":{"urlPattern":3}}})",
                             R"({"providers":{"p":{"completeProvider":"yes"}}})", "{\"providers\":{\"\xff\":{}}}",
                             R"({"providers":{"ok":{}}} trailing)"}) {
        EXPECT_FALSE(ProvidersFile::decode(text).has_value()) << text;
    }
    std::string deep(100000, '[');
    EXPECT_FALSE(ProvidersFile::decode(deep).has_value());
}

TEST(RulesEngineCategorize, FirstMatchingRuleDecides) {
    Provider plain;
    Provider withRedirect;
    withRedirect.redirections = {"x(.*)"};
    Provider withReferral;
    withReferral.referralMarketing = {"tag"};
    EXPECT_EQ(RulesEngine::categorize("GoogleAdServices", plain), RuleCategoryType::advertising);
    EXPECT_EQ(RulesEngine::categorize("google", plain), RuleCategoryType::analytics);
    EXPECT_EQ(RulesEngine::categorize("Google Ads", plain), RuleCategoryType::advertising);
    EXPECT_EQ(RulesEngine::categorize("amazon", withRedirect), RuleCategoryType::redirectUnwrapping);
    EXPECT_EQ(RulesEngine::categorize("Amazon Search", withReferral), RuleCategoryType::ecommerce);
    EXPECT_EQ(RulesEngine::categorize("youtube-analytics", plain), RuleCategoryType::socialMedia);
    EXPECT_EQ(RulesEngine::categorize("hubspot", plain), RuleCategoryType::emailMarketing);
    EXPECT_EQ(RulesEngine::categorize("partner", withReferral), RuleCategoryType::referralMarketing);
    EXPECT_EQ(RulesEngine::categorize("partner", plain), RuleCategoryType::analytics);

    EXPECT_EQ(RulesEngine::categorizeFallbackParam("utm_anything"), RuleCategoryType::analytics);
    EXPECT_EQ(RulesEngine::categorizeFallbackParam("ttclid"), RuleCategoryType::socialMedia);
    EXPECT_EQ(RulesEngine::categorizeFallbackParam("msclkid"), RuleCategoryType::advertising);
    EXPECT_EQ(RulesEngine::categorizeFallbackParam("_hsmi"), RuleCategoryType::emailMarketing);
    EXPECT_EQ(RulesEngine::categorizeFallbackParam("GCLID"), RuleCategoryType::analytics);
}

}  // namespace
}  // namespace tessaril
