// SPDX-License-Identifier: GPL-3.0-or-later
// How Command Guard's records read and write. A verdict's JSON form is pinned where it is printed
// (`tessaril guard --json`, tests/cli); nothing reads a verdict back.
#include <gtest/gtest.h>

#include "core/guard/CommandRiskResult.h"
#include "core/guard/CommandRiskSeverity.h"
#include "core/guard/RuleBundle.h"

namespace tessaril {
namespace {

TEST(CommandRiskRecords, SeveritiesAndRulesFilesDecodeStrictly) {
    EXPECT_LT(CommandRiskSeverity::info, CommandRiskSeverity::warning);
    EXPECT_LT(CommandRiskSeverity::warning, CommandRiskSeverity::danger);
    for (auto severity : kAllCommandRiskSeverities)
        EXPECT_EQ(commandRiskSeverityFromRawValue(rawValue(severity)), severity);
    for (const char* other : {"Danger", "critical", "", " info"})
        EXPECT_FALSE(commandRiskSeverityFromRawValue(other).has_value()) << other;

    // Unknown keys are ignored; anything missing or of another type fails the whole file.
    const auto bundle = RuleBundle::decode(R"({"currentVersion":"7","extra":1,"rules":[
        {"id":"a","platform":"bash","severity":"info","pattern":"x","summary":"s","explanation":"e","note":true}]})");
    ASSERT_TRUE(bundle.has_value());
    EXPECT_EQ(*bundle, (RuleBundle{"7", {{"a", "bash", CommandRiskSeverity::info, "x", "s", "e"}}}));
    EXPECT_EQ(RuleBundle::decode(bundle->toJson().dump()), bundle);
    const std::string rule = R"("id":"a","platform":"p","severity":"info","pattern":"x","summary":"s")";
    for (const std::string& broken : {
             std::string("not json"),
             std::string("[]"),
             std::string(R"({"rules":[]})"),
             std::string(R"({"currentVersion":7,"rules":[]})"),
             std::string(R"({"currentVersion":"1","rules":{}})"),
             R"({"currentVersion":"1","rules":[{)" + rule + "}]}",
             R"({"currentVersion":"1","rules":[{)" + rule + R"(,"explanation":1}]})",
             std::string("{\"currentVersion\":\"\xFF\",\"rules\":[]}"),
         })
        EXPECT_FALSE(RuleBundle::decode(broken).has_value()) << broken;

    // A stored verdict may come back in any order; the primary finding does not depend on it.
    const auto finding = [](std::string id, CommandRiskSeverity severity) {
        return CommandRiskFinding{std::move(id), "bash", severity, "summary", "explanation", "rm -rf /"};
    };
    CommandRiskResult result;
    EXPECT_FALSE(result.primaryFinding().has_value());
    result.findings = {finding("c", CommandRiskSeverity::warning), finding("z", CommandRiskSeverity::danger),
                       finding("b", CommandRiskSeverity::danger), finding("a", CommandRiskSeverity::info)};
    EXPECT_EQ(result.primaryFinding()->id, "b");
}

}  // namespace
}  // namespace tessaril
