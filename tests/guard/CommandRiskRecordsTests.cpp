// SPDX-License-Identifier: GPL-3.0-or-later
// How a Command Guard rules file reads. A verdict's JSON form is pinned where it is printed
// (`tessaril guard --json`, tests/cli), and severities where `--threshold` reads them.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/guard/CommandRiskFinding.h"
#include "core/guard/RuleBundle.h"

namespace tessaril {
namespace {

TEST(CommandRiskRecords, RulesFilesDecodeStrictly) {
    // Unknown keys are ignored; anything missing or of another type fails the whole file.
    const auto bundle = RuleBundle::decode(R"({"currentVersion":"7","extra":1,"rules":[
        {"id":"a","platform":"bash","severity":"info","pattern":"x","summary":"s","explanation":"e","note":true}]})");
    ASSERT_TRUE(bundle.has_value());
    EXPECT_EQ(*bundle, (RuleBundle{"7", {{"a", "bash", CommandRiskSeverity::info, "x", "s", "e"}}}));
    EXPECT_EQ(RuleBundle::decode(bundle->toJson().dump()), bundle);
    const auto listed = RuleBundle::decode(R"({"currentVersion":"7","siteLists":{"v":["a.org","b.org/x/y"]},"rules":[
        {"id":"a","platform":"p","severity":"info","pattern":"x","summary":"s","explanation":"e",
         "exceptSites":{"list":"v","group":"g"}}]})");
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(listed->rules.at(0).exceptSites, (RuleDefinition::SiteException{"v", "g"}));
    EXPECT_EQ(RuleBundle::decode(listed->toJson().dump()), listed);
    const std::string rule = R"("id":"a","platform":"p","severity":"info","pattern":"x","summary":"s")";
    for (const std::string& broken : {
             std::string("not json"),
             std::string("[]"),
             std::string(R"({"rules":[]})"),
             std::string(R"({"currentVersion":7,"rules":[]})"),
             std::string(R"({"currentVersion":"1","rules":{}})"),
             R"({"currentVersion":"1","rules":[{)" + rule + "}]}",
             R"({"currentVersion":"1","rules":[{)" + rule + R"(,"explanation":1}]})",
             // Severities are spelt exactly.
             R"({"currentVersion":"1","rules":[{)" + std::string(rule).replace(rule.find("info"), 4, "Danger") +
                 R"(,"explanation":"e"}]})",
             std::string("{\"currentVersion\":\"\xFF\",\"rules\":[]}"),
             // Site lists are arrays of hosts with optional path segments, and a rule names one that is there.
             std::string(R"({"currentVersion":"1","rules":[],"siteLists":{"a":"x.org"}})"),
             std::string(R"({"currentVersion":"1","rules":[],"siteLists":{"a":["x.org","no_tld"]}})"),
             std::string(R"({"currentVersion":"1","rules":[],"siteLists":{"a":["x.org/a//b"]}})"),
             R"({"currentVersion":"1","siteLists":{"a":["x.org"]},"rules":[{)" + rule +
                 R"(,"explanation":"e","exceptSites":{"list":"b"}}]})",
             R"({"currentVersion":"1","siteLists":{"a":["x.org"]},"rules":[{)" + rule +
                 R"(,"explanation":"e","exceptSites":{"list":"a","group":"1x"}}]})",
         })
        EXPECT_FALSE(RuleBundle::decode(broken).has_value()) << broken;
}

// A finding from a view carries the view's name; one from the command as examined has no "view" key,
// so verdicts on plain commands read as before.
TEST(CommandRiskRecords, FindingsNameTheirViewOnlyWhenThereIsOne) {
    CommandRiskFinding finding{"a", "bash", CommandRiskSeverity::danger, "s", "e", "m", ""};
    EXPECT_FALSE(finding.toJson().contains("view"));
    finding.view = "base64/unquoted";
    EXPECT_EQ(finding.toJson()["view"], "base64/unquoted");
    EXPECT_EQ(CommandRiskFinding::fromJson(finding.toJson()), finding);
    auto wrongType = finding.toJson();
    wrongType["view"] = 1;
    EXPECT_FALSE(CommandRiskFinding::fromJson(wrongType).has_value());
}

}  // namespace
}  // namespace tessaril
