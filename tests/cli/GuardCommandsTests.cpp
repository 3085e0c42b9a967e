// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

using GuardCommandsTest = testing::ToolTest;
using testing::Invocation;

const std::string kRules = R"({"currentVersion":"t1","rules":[
  {"id":"pipe","platform":"sh","severity":"warning","pattern":"\\| *sh\\b","summary":"Pipes into a shell","explanation":"e"},
  {"id":"wipe","platform":"sh","severity":"danger","pattern":"rm -rf /","summary":"Deletes everything","explanation":"e"}]})";

TEST_F(GuardCommandsTest, ExitStatusAndHumanVerdict) {
    // The shipped rules' wording may change; the verdict's shape may not.
    const auto risky = invoke({"guard", "curl -fsSL https://example.com/install.sh | sh"});
    EXPECT_EQ(risky.status, 1);
    EXPECT_NE(risky.out.find("warning: "), std::string::npos) << risky.out;
    EXPECT_NE(risky.out.find("matched: "), std::string::npos) << risky.out;
    EXPECT_EQ(invoke({"guard", "git status"}), (Invocation{0, "", ""}));

    const auto rules = writeFile("rules.json", kRules).string();
    EXPECT_EQ(
        invoke({"guard", "--rules", rules, "curl x | sh; rm -rf /"}),
        (Invocation{1, "danger: Deletes everything\n  matched: rm -rf /\n  and 1 more finding (--json shows all)\n",
                    ""}));
    EXPECT_EQ(invoke({"guard", "--rules", rules, "--threshold", "danger", "curl x | sh"}).status, 0);
    EXPECT_EQ(invoke({"guard", "--rules", rules, "--threshold", "danger", "rm -rf /"}).status, 1);

    // A hostile rules file or command cannot move the cursor or reorder the warning; JSON stays exact.
    const auto hostile = writeFile("hostile.json", R"({"currentVersion":"h","rules":[{"id":"evil","platform":"sh",
        "severity":"danger","pattern":"evil\\S*","summary":"\u001b[2KAll \u202egood","explanation":"e"}]})")
                             .string();
    EXPECT_EQ(invoke({"guard", "--rules", hostile, "evil\x1b[1A\u202e\xFF"}),
              (Invocation{1, "danger: \\x1b[2KAll \\u202egood\n  matched: evil\\x1b[1A\\u202e\uFFFD\n", ""}));
    EXPECT_NE(invoke({"guard", "--json", "--rules", hostile, "evil\x1b"}).out.find(R"("matchedText":"evil\u001b")"),
              std::string::npos);
}

TEST_F(GuardCommandsTest, JsonVerdictAndStandardInput) {
    const auto rules = writeFile("rules.json", kRules).string();
    EXPECT_EQ(
        invoke({"guard", "--json", "--rules", rules}, "  curl x \\\n | sh\n"),
        (Invocation{1,
                    R"({"command":"curl x   | sh","severity":"warning","findings":[{"id":"pipe","platform":"sh",)"
                    R"("severity":"warning","summary":"Pipes into a shell","explanation":"e","matchedText":"| sh"}],)"
                    R"("rulesVersion":"t1"})"
                    "\n",
                    ""}));
    EXPECT_EQ(invoke({"guard", "--json", "--rules", rules}, "ls\n"), (Invocation{0, "null\n", ""}));

    // Every documented status prints a value: what was not decided says why, as on standard error.
    const std::string tooLong = "the text is longer than 32768 bytes and was not examined";
    EXPECT_EQ(invoke({"guard", "--json"}, std::string(40000, 'a')),
              (Invocation{5, R"({"error":"textNotExamined","message":")" + tooLong + "\"}\n",
                          "tessaril: " + tooLong + "\n"}));
    const auto absent = (root_ / "absent.json").string();
    EXPECT_EQ(invoke({"guard", "--json", "--rules", absent, "ls"}),
              (Invocation{3, R"({"error":"rulesUnusable","message":"cannot read )" + absent + "\"}\n",
                          "tessaril: cannot read " + absent + "\n"}));
}

TEST_F(GuardCommandsTest, NeutralizePrintsExactlyTheInertText) {
    const std::string expected =
        "# Tessaril neutralized a risky command copied to the clipboard.\n"
        "# Review before running anything below.\n# rm -rf /";
    EXPECT_EQ(invoke({"neutralize", "rm -rf /"}), (Invocation{0, expected, ""}));
    EXPECT_EQ(invoke({"neutralize"}, "rm -rf /\n"), (Invocation{0, expected, ""}));
    // Its own output passes the guard, but not a live line behind its header.
    EXPECT_EQ(invoke({"guard"}, expected).status, 0);
    EXPECT_EQ(invoke({"guard"}, expected + "\ncurl -fsSL https://example.com/install.sh | sh").status, 1);
    // Input beyond 16 MB is refused whole, never cut: 17 MB of blanks would hide the command.
    const std::string padded = std::string(17 * 1024 * 1024, ' ') + "rm -rf /";
    EXPECT_EQ(invoke({"neutralize"}, padded),
              (Invocation{5, "", "tessaril: the input is longer than 16 MB and was not neutralized\n"}));
    EXPECT_EQ(invoke({"guard"}, padded),
              (Invocation{5, "", "tessaril: the input is longer than 16 MB and was not examined\n"}));
}

TEST_F(GuardCommandsTest, UsageErrorsBadRulesAndHugeInput) {
    EXPECT_EQ(invoke({"guard", "--threshold", "severe", "x"}).status, 2);
    EXPECT_EQ(invoke({"guard", "a", "b"}).status, 2);

    const auto absent = (root_ / "absent.json").string();
    EXPECT_EQ(invoke({"guard", "--rules", absent, "rm -rf /"}),
              (Invocation{3, "", "tessaril: cannot read " + absent + "\n"}));
    const std::string invalidRule =
        R"({"id":"bad","platform":"sh","severity":"danger","pattern":"(rm","summary":"s","explanation":"e"})";
    const std::pair<std::string, std::string> unusable[] = {
        {R"({"currentVersion":"1","rules":[{"id":"x"}]})", "not a Command Guard rules file"},
        {"{}", "not a Command Guard rules file"},
        {R"({"currentVersion":"1","rules":[]})", "no rule has a pattern that compiles"},
        {R"({"currentVersion":"1","rules":[)" + invalidRule + "]}", "no rule has a pattern that compiles"},
    };
    for (const auto& [content, reason] : unusable) {
        const auto broken = writeFile("bad.json", content).string();
        EXPECT_EQ(invoke({"guard", "--rules", broken, "rm -rf /"}),
                  (Invocation{3, "", "tessaril: no usable Command Guard rules in " + broken + ": " + reason + "\n"}));
    }
    // The rules that compile still count.
    const auto mixed = writeFile("mixed.json", kRules.substr(0, kRules.size() - 2) + "," + invalidRule + "]}").string();
    EXPECT_EQ(invoke({"guard", "--rules", mixed, "rm -rf /"}).status, 1);

    EXPECT_EQ(invoke({"guard"}, std::string(10 * 1024 * 1024, 'a')),
              (Invocation{5, "", "tessaril: the text is longer than 32768 bytes and was not examined\n"}));
    // Measured as examined: each malformed byte is three once repaired, 33,000 in all.
    EXPECT_EQ(invoke({"guard"}, "rm -rf / " + std::string(11000, '\xFF')),
              (Invocation{5, "", "tessaril: the text is longer than 32768 bytes and was not examined\n"}));
    EXPECT_EQ(invoke({"guard"}, std::string("\0rm -rf /", 9)).status, 1);

    // An unusable installed file gives way to the shipped rules, with one line saying so.
    const auto installed = writeFile("data/com.orvellelabs.tessaril/rules/active/command-guard-rules.json",
                                     R"({"currentVersion":"9","rules":[)" + invalidRule + "]}");
    EXPECT_EQ(invoke({"guard", "curl -fsSL https://example.com/install.sh | sh"}).status, 1);
    EXPECT_EQ(invoke({"guard", "git status"}),
              (Invocation{0, "",
                          "tessaril: passing over the installed Command Guard rules " + installed.string() +
                              " (no rule has a pattern that compiles) for the shipped ones\n"}));
}

}  // namespace
}  // namespace tessaril
