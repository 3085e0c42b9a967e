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
const std::string kInvalidRule =
    R"({"id":"bad","platform":"sh","severity":"danger","pattern":"(rm","summary":"s","explanation":"e"})";

TEST_F(GuardCommandsTest, VerdictsStatusesAndLimits) {
    const auto rules = writeFile("rules.json", kRules).string();
    const auto hostile = writeFile("hostile.json", R"({"currentVersion":"h","rules":[{"id":"evil","platform":"sh",
        "severity":"danger","pattern":"evil\\S*","summary":"\u001b[2KAll \u202egood","explanation":"e"}]})")
                             .string();
    const auto costly = writeFile("costly.json", R"({"currentVersion":"c","rules":[{"id":"slow","platform":"sh",
        "severity":"danger","pattern":"(a+)+b","summary":"s","explanation":"e"}]})")
                            .string();
    const auto absent = (root_ / "absent.json").string();
    const std::string gaveUp = "a Command Guard rule ran out of time on the text, so it was not judged safe";
    const std::string tooLong = "the text is longer than 32768 bytes and was not examined";
    const std::string neutralized =
        "# Tessaril neutralized a risky command copied to the clipboard.\n"
        "# Review before running anything below.\n# rm -rf /";
    const std::string padded = std::string(17 * 1024 * 1024, ' ') + "rm -rf /";
    struct Case {
        std::vector<std::string> arguments;
        Invocation expected;
        std::string input = {};
    };
    const Case cases[] = {
        {{"guard", "git status"}, prints(0, "")},
        {{"guard", "--rules", rules, "curl x | sh; rm -rf /"},
         prints(1,
                "danger: Deletes everything\n  matched: rm -rf /\n"
                "  and 1 more finding (--explain or --json shows all)\n")},
        {{"guard", "--rules", rules, "--threshold", "danger", "curl x | sh"}, prints(0, "")},
        // A finding from a view names it, on screen and in JSON.
        {{"guard", "--rules", rules, "r\\m -rf /"},
         prints(1,
                "danger: Deletes everything (in the command with quotes and escapes taken out of its words)\n"
                "  matched: rm -rf /\n")},
        {{"guard", "--json", "--rules", rules, "x=sh; curl x | $x"},
         prints(1, R"({"command":"x=sh; curl x | $x","severity":"warning","findings":[{"id":"pipe","platform":"sh",)"
                   R"("severity":"warning","summary":"Pipes into a shell","explanation":"e","matchedText":"| sh",)"
                   R"("view":"folded"}],"rulesVersion":"t1"})"
                   "\n")},
        // A hostile rules file or command can neither move the cursor nor reorder the warning.
        {{"guard", "--rules", hostile, "evil\x1b[1A\u202e\xFF"},
         prints(1, "danger: \\x1b[2KAll \\u202egood\n  matched: evil\\x1b[1A\\u202e\uFFFD\n")},
        // Every status prints a JSON value: a verdict, null, or what was not decided and why.
        {{"guard", "--json", "--rules", rules},
         prints(1, R"({"command":"curl x   | sh","severity":"warning","findings":[{"id":"pipe","platform":"sh",)"
                   R"("severity":"warning","summary":"Pipes into a shell","explanation":"e","matchedText":"| sh"}],)"
                   R"("rulesVersion":"t1"})"
                   "\n"),
         "  curl x \\\n | sh\n"},
        {{"guard", "--json", "--rules", rules}, prints(0, "null\n"), "ls\n"},
        {{"guard", "--json"},
         {5, R"({"error":"textNotExamined","message":")" + tooLong + "\"}\n", "tessaril: " + tooLong + "\n"},
         std::string(40000, 'a')},
        // A text too costly to search is not passed as safe (the accent keeps it off the automata,
        // which never give up).
        {{"guard", "--json", "--rules", costly, "\u00e9" + std::string(40, 'a') + "c b"},
         {5, R"({"error":"textNotExamined","message":")" + gaveUp + "\"}\n", "tessaril: " + gaveUp + "\n"}},
        {{"guard", "--json", "--rules", absent, "ls"},
         {3, R"({"error":"rulesUnusable","message":"cannot read )" + absent + "\"}\n",
          "tessaril: cannot read " + absent + "\n"}},
        {{"guard", "--rules", absent, "rm -rf /"}, {3, "", "tessaril: cannot read " + absent + "\n"}},
        // (Which texts the guard takes for its own inert output is the guard's own test.)
        {{"neutralize", "rm -rf /"}, prints(0, neutralized)},
        {{"neutralize"}, prints(0, neutralized), "rm -rf /\n"},
        // Input beyond 16 MB is refused whole, never cut: 17 MB of blanks would hide the command.
        {{"neutralize"}, {5, "", "tessaril: the input is longer than 16 MB and was not neutralized\n"}, padded},
        {{"guard"}, {5, "", "tessaril: the input is longer than 16 MB and was not examined\n"}, padded},
    };
    for (const auto& [arguments, expected, input] : cases)
        EXPECT_EQ(invoke(arguments, input), expected) << arguments.back().substr(0, 40) << input.substr(0, 40);
}

TEST_F(GuardCommandsTest, UnusableRulesFiles) {
    // One file for each reason (which files decode is the rules file's own test).
    const std::pair<std::string, std::string> unusable[] = {
        {R"({"currentVersion":"1","rules":[{"id":"x"}]})", "not a Command Guard rules file"},
        {R"({"currentVersion":"1","rules":[)" + kInvalidRule + "]}", "no rule has a pattern that compiles"},
    };
    for (const auto& [content, reason] : unusable) {
        const auto broken = writeFile("bad.json", content).string();
        EXPECT_EQ(invoke({"guard", "--rules", broken, "rm -rf /"}),
                  (Invocation{3, "", "tessaril: no usable Command Guard rules in " + broken + ": " + reason + "\n"}));
    }

    // An unusable installed file gives way to the shipped rules, with one line saying so.
    const auto installed = writeFile("data/com.orvellelabs.tessaril/rules/active/command-guard-rules.json",
                                     R"({"currentVersion":"9","rules":[)" + kInvalidRule + "]}");
    // A NUL byte in what is read ends nothing: the command after it is judged.
    EXPECT_EQ(invoke({"guard"}, std::string(1, '\0') + "curl -fsSL https://example.com/install.sh | sh").status, 1);
    EXPECT_EQ(invoke({"guard", "git status"}),
              (Invocation{0, "",
                          "tessaril: passing over the installed Command Guard rules " + installed.string() +
                              " (no rule has a pattern that compiles) for the shipped ones\n"}));
}

}  // namespace
}  // namespace tessaril
