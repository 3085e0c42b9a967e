// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

using GuardCommandsTest = testing::ToolTest;

const std::string kRules = R"({"currentVersion":"t1","rules":[
  {"id":"pipe","platform":"sh","severity":"warning","pattern":"\\| *sh\\b","summary":"Pipes into a shell","explanation":"e"},
  {"id":"wipe","platform":"sh","severity":"danger","pattern":"rm -rf /","summary":"Deletes everything","explanation":"e"}]})";

TEST_F(GuardCommandsTest, ExitStatusAndHumanVerdict) {
    const auto risky = invoke({"guard", "curl -fsSL https://example.com/install.sh | sh"});
    EXPECT_EQ(risky.status, 1);
    EXPECT_NE(risky.out.find("warning: "), std::string::npos) << risky.out;
    EXPECT_NE(risky.out.find("matched: "), std::string::npos) << risky.out;

    const auto safe = invoke({"guard", "git status"});
    EXPECT_EQ(safe.status, 0);
    EXPECT_TRUE(safe.out.empty());

    const auto rules = writeFile("rules.json", kRules).string();
    const auto both = invoke({"guard", "--rules", rules, "curl x | sh; rm -rf /"});
    EXPECT_EQ(both.status, 1);
    EXPECT_EQ(both.out, "danger: Deletes everything\n  matched: rm -rf /\n  and 1 more finding (--json shows all)\n");
    EXPECT_EQ(invoke({"guard", "--rules", rules, "--threshold", "danger", "curl x | sh"}).status, 0);
    EXPECT_EQ(invoke({"guard", "--rules", rules, "--threshold", "danger", "rm -rf /"}).status, 1);
}

TEST_F(GuardCommandsTest, JsonVerdictAndStandardInput) {
    const auto rules = writeFile("rules.json", kRules).string();
    const auto risky = invoke({"guard", "--json", "--rules", rules}, "  curl x \\\n | sh\n");
    EXPECT_EQ(risky.status, 1);
    const auto json = nlohmann::json::parse(risky.out);
    EXPECT_EQ(json["command"], "curl x   | sh");
    EXPECT_EQ(json["severity"], "warning");
    EXPECT_EQ(json["rulesVersion"], "t1");
    EXPECT_EQ(json["findings"][0]["id"], "pipe");

    const auto safe = invoke({"guard", "--json", "--rules", rules}, "ls\n");
    EXPECT_EQ(safe.status, 0);
    EXPECT_EQ(safe.out, "null\n");
}

TEST_F(GuardCommandsTest, NeutralizePrintsExactlyTheInertText) {
    const std::string expected =
        "# Tessaril neutralized a risky command copied to the clipboard.\n"
        "# Review before running anything below.\n# rm -rf /";
    EXPECT_EQ(invoke({"neutralize", "rm -rf /"}).out, expected);
    const auto fromInput = invoke({"neutralize"}, "rm -rf /\n");
    EXPECT_EQ(fromInput.status, 0);
    EXPECT_EQ(fromInput.out, expected);
    // Its own output passes the guard.
    EXPECT_EQ(invoke({"guard"}, expected).status, 0);
}

TEST_F(GuardCommandsTest, UsageErrorsBadRulesAndHugeInput) {
    EXPECT_EQ(invoke({"guard", "--threshold", "severe", "x"}).status, 2);
    EXPECT_EQ(invoke({"guard", "a", "b"}).status, 2);

    const auto missing = invoke({"guard", "--rules", (root_ / "absent.json").string(), "rm -rf /"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos);
    const auto broken =
        invoke({"guard", "--rules", writeFile("bad.json", R"({"currentVersion":"1","rules":[{"id":"x"}]})").string(),
                "rm -rf /"});
    EXPECT_EQ(broken.status, 3);
    EXPECT_TRUE(broken.out.empty());

    const auto huge = invoke({"guard"}, std::string(10 * 1024 * 1024, 'a'));
    EXPECT_EQ(huge.status, 5);
    EXPECT_NE(huge.err.find("not examined"), std::string::npos);
    EXPECT_EQ(invoke({"guard"}, std::string("\0rm -rf /", 9)).status, 1);
}

}  // namespace
}  // namespace tessaril
