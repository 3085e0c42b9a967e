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
