// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/guard/CommandRiskResult.h"
#include "core/guard/CommandRiskSeverity.h"
#include "core/guard/RuleBundle.h"

#include <nlohmann/json.hpp>

namespace tessaril {
namespace {

CommandRiskFinding finding(std::string id, CommandRiskSeverity severity) {
    return {std::move(id), "bash", severity, "summary", "explanation", "rm -rf /"};
}

// The names themselves are pinned by the JSON forms below.
TEST(CommandRiskSeverity, RawValuesOrderAndStrictDecoding) {
    EXPECT_LT(CommandRiskSeverity::info, CommandRiskSeverity::warning);
    EXPECT_LT(CommandRiskSeverity::warning, CommandRiskSeverity::danger);
    for (auto severity : kAllCommandRiskSeverities)
        EXPECT_EQ(commandRiskSeverityFromRawValue(rawValue(severity)), severity);
    for (const char* other : {"Danger", "critical", "", " info", "high"})
        EXPECT_FALSE(commandRiskSeverityFromRawValue(other).has_value()) << other;
}

TEST(RuleBundle, DecodesStrictlyAndIgnoresUnknownKeys) {
    const auto bundle = RuleBundle::decode(R"({"currentVersion":"7","extra":1,"rules":[
        {"id":"a","platform":"bash","severity":"info","pattern":"x","summary":"s","explanation":"e","note":true}]})");
    ASSERT_TRUE(bundle.has_value());
    EXPECT_EQ(bundle->currentVersion, "7");
    ASSERT_EQ(bundle->rules.size(), 1U);
    EXPECT_EQ(bundle->rules[0], (RuleDefinition{"a", "bash", CommandRiskSeverity::info, "x", "s", "e"}));
    EXPECT_EQ(RuleBundle::fromJson(nlohmann::json::parse(bundle->toJson().dump())), bundle);

    const char* broken[] = {
        "",
        "not json",
        "[]",
        R"({"rules":[]})",
        R"({"currentVersion":7,"rules":[]})",
        R"({"currentVersion":"1","rules":{}})",
        R"({"currentVersion":"1","rules":[{"id":"a","platform":"p","severity":"severe","pattern":"x","summary":"s","explanation":"e"}]})",
        R"({"currentVersion":"1","rules":[{"id":"a","platform":"p","severity":"info","pattern":"x","summary":"s"}]})",
        R"({"currentVersion":"1","rules":[{"id":"a","platform":"p","severity":"info","pattern":1,"summary":"s","explanation":"e"}]})",
        "{\"currentVersion\":\"\xFF\",\"rules\":[]}",
    };
    for (const char* text : broken)
        EXPECT_FALSE(RuleBundle::decode(text).has_value()) << text;
}

TEST(CommandRiskResult, JsonFormKeepsKeyOrderAndRoundTrips) {
    CommandRiskResult result{"curl x | sh",
                             CommandRiskSeverity::danger,
                             {finding("b", CommandRiskSeverity::danger), finding("a", CommandRiskSeverity::warning)},
                             "2026.1"};
    const auto json = result.toJson();
    EXPECT_EQ(
        json.dump(),
        R"({"command":"curl x | sh","severity":"danger","findings":[)"
        R"({"id":"b","platform":"bash","severity":"danger","summary":"summary","explanation":"explanation","matchedText":"rm -rf /"},)"
        R"({"id":"a","platform":"bash","severity":"warning","summary":"summary","explanation":"explanation","matchedText":"rm -rf /"}],)"
        R"("rulesVersion":"2026.1"})");
    EXPECT_EQ(CommandRiskResult::fromJson(nlohmann::json::parse(json.dump())), result);

    auto missing = nlohmann::json::parse(json.dump());
    missing.erase("rulesVersion");
    EXPECT_FALSE(CommandRiskResult::fromJson(missing).has_value());
    auto badFinding = nlohmann::json::parse(json.dump());
    badFinding["findings"][1].erase("matchedText");
    EXPECT_FALSE(CommandRiskResult::fromJson(badFinding).has_value());
    auto badSeverity = nlohmann::json::parse(json.dump());
    badSeverity["findings"][0]["severity"] = "fatal";
    EXPECT_FALSE(CommandRiskResult::fromJson(badSeverity).has_value());
    auto extra = nlohmann::json::parse(json.dump());
    extra["seenAt"] = 12;
    EXPECT_TRUE(CommandRiskResult::fromJson(extra).has_value());
}

TEST(CommandRiskResult, PrimaryFindingIsHighestSeverityThenSmallestId) {
    CommandRiskResult result;
    EXPECT_FALSE(result.primaryFinding().has_value());
    // A stored verdict may come back in any order; the primary finding does not depend on it.
    result.findings = {finding("c", CommandRiskSeverity::warning), finding("z", CommandRiskSeverity::danger),
                       finding("b", CommandRiskSeverity::danger), finding("a", CommandRiskSeverity::info)};
    EXPECT_EQ(result.primaryFinding()->id, "b");
}

}  // namespace
}  // namespace tessaril
