// SPDX-License-Identifier: GPL-3.0-or-later
// The cleaning records as they are stored, exported and printed, and the rule files as they are read.
#include "core/cleaning/CleanOutcome.h"
#include "core/cleaning/CleanResult.h"
#include "core/cleaning/Provider.h"
#include "core/cleaning/RuleCategory.h"
#include "core/cleaning/RuleEntry.h"
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/TrackingImpactReport.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessaril {
namespace {

// The record read from `json` and written again, or nothing when it is refused.
template <typename Record>
std::optional<std::string> reread(const nlohmann::json& json) {
    const auto record = Record::fromJson(json);
    if (!record) return std::nullopt;
    if constexpr (requires { (*record)->toJson(); })
        return (*record)->toJson().dump();
    else
        return record->toJson().dump();
}

// Each record as it is written (a misspelt or moved field shows), read back to the same text, and
// refused whole without a required field or with a wrong value.
TEST(Records, JsonRoundTripsAndStrictReading) {
    using Reread = std::optional<std::string> (*)(const nlohmann::json&);
    const std::map<std::string, Reread> readers = {
        {"RuleEntry", reread<RuleEntry>},           {"RuleCategory", reread<RuleCategory>},
        {"CleanOperation", reread<CleanOperation>}, {"CleanResult", reread<CleanResult>},
        {"CleanOutcome", reread<CleanOutcome>},     {"TrackingImpactReport", reread<TrackingImpactReport>}};
    // Read keeping each record's order of fields.
    const auto cases = nlohmann::ordered_json::parse(
        testing::readFile(std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data/cleaning/records.json"), nullptr,
        false, true);
    ASSERT_FALSE(cases.is_discarded() || cases.empty());
    for (const auto& row : cases) {
        const Reread read = readers.at(row[0]);
        const std::string text = row[1].dump();
        SCOPED_TRACE(text.substr(0, 60));
        const auto json = nlohmann::json::parse(text);
        EXPECT_EQ(read(json), text);
        for (const auto& key : row[2]) {
            auto missing = json;
            missing.erase(key.get<std::string>());
            EXPECT_EQ(read(missing), std::nullopt) << "without " << key;
        }
        for (const auto& wrong : row[3]) {
            auto changed = json;
            changed[wrong[0].get<std::string>()] = nlohmann::json::parse(wrong[1].dump());
            EXPECT_EQ(read(changed), std::nullopt) << wrong;
        }
    }
    // Optional lists may be null or absent; a category's id is its type's, whatever the file says.
    const auto minimal = CleanResult::fromJson(nlohmann::json::parse(
        R"({"originalURL":"a","cleanedURL":"b","paramsRemoved":0,"privacyRedirect":null,"operations":null})"));
    ASSERT_TRUE(minimal.has_value());
    EXPECT_TRUE(minimal->operations.empty() && !minimal->privacyRedirect.has_value());
    const std::string rule = cases[0][1].dump();
    const auto category = RuleCategory::fromJson(nlohmann::json::parse(
        R"({"id":"Custom","type":"Advertising","isEnabled":true,"matchCount":4,"rules":[)" + rule + "," + rule + "]}"));
    ASSERT_TRUE(category.has_value());
    EXPECT_EQ((*category)->id(), "Advertising");
    EXPECT_EQ((*category)->totalMatchCount(), 14);
    EXPECT_EQ((*category)->enabledRuleCount(), 0u);
}

// What a rule's signals and a category's first-rule index answer follows every change, and only
// real changes are announced.
TEST(Records, RuleChangesAreFollowed) {
    RuleCategory category(RuleCategoryType::custom);
    auto first =
        std::make_shared<RuleEntry>("Custom:a", "a", "first", RuleCategoryType::custom, RuleEntry::Source::custom);
    auto second =
        std::make_shared<RuleEntry>("Custom:a", "a", "second", RuleCategoryType::custom, RuleEntry::Source::fallback);
    int changes = 0;
    auto enabled = first->enabledChanged().connect([&](bool) { ++changes; });
    auto counted = first->matchCountChanged().connect([&](std::int64_t) { ++changes; });
    for (const bool on : {true, false, false})
        first->setEnabled(on);
    first->setMatchCount(0);
    first->setMatchCount(3);
    EXPECT_EQ(changes, 2);

    category.appendRule(first);
    category.appendRule(second);
    EXPECT_EQ(category.firstRule("Custom:a"), first.get());
    category.removeRulesIf([](const RuleEntry& rule) { return rule.source() == RuleEntry::Source::custom; });
    EXPECT_EQ(category.firstRule("Custom:a"), second.get());
    category.insertRule(0, first);
    EXPECT_EQ(category.firstRule("Custom:a"), first.get());
    EXPECT_EQ(category.firstRule("Custom:b"), nullptr);
}

TEST(ProvidersFile, KeepsFileOrderAndDefaultsAndFailsAsAWhole) {
    auto file = ProvidersFile::decode(R"({"providers":{
        "zeta":{"rules":["a"],"extra":{"x":1}},
        "alpha":{"urlPattern":"^https://a","completeProvider":true,"referralMarketing":["r"],"forceRedirection":true,
                 "encodedRedirections":[{"pattern":"u=(\\w+)&","encoding":"base64url"},{"pattern":"v=(.+)&","encoding":"rot13"}]},
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
    EXPECT_TRUE(alpha.completeProvider && alpha.forceRedirection);
    EXPECT_EQ(alpha.allParamPatterns(), (std::vector<std::string>{"r"}));
    // An encoding this version does not know leaves its entry out.
    EXPECT_EQ(alpha.encodedRedirections, (std::vector<EncodedRedirection>{{"u=(\\w+)&", WrapperEncoding::base64url}}));

    auto refused = testing::readCases("cleaning/refused-provider-files.json").get<std::vector<std::string>>();
    ASSERT_FALSE(refused.empty());
    refused.push_back("{\"providers\":{\"\xff\":{}}}");
    refused.push_back(std::string(100000, '['));
    for (const std::string& text : refused)
        EXPECT_FALSE(ProvidersFile::decode(text).has_value()) << text.substr(0, 60);
}

// A provider's name and what it holds decide its category, the first matching rule first; a provider
// file may name the category itself, but only one the user could not own counts.
TEST(RulesEngineCategorize, FirstMatchingRuleDecides) {
    const auto cases = testing::readCases("cleaning/provider-categories.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const auto file = ProvidersFile::decode(nlohmann::json{{"providers", {{"p", row[1]}}}}.dump());
        ASSERT_TRUE(file) << row[1];
        EXPECT_EQ(rawValue(RulesEngine::categorize(row[0].get<std::string>(), file->providers.at(0).second)),
                  row[2].get<std::string>())
            << row[0] << row[1];
    }
}

}  // namespace
}  // namespace tessaril
