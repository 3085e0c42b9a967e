// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "tests/cli/ToolTest.h"
#include "tests/support/CaseTable.h"

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
    const std::pair<std::string, std::string> files[] = {
        {"{rules}", writeFile("rules.json", kRules).string()},
        {"{costly}", writeFile("costly.json", R"({"currentVersion":"c","rules":[{"id":"slow","platform":"sh",
            "severity":"danger","pattern":"(a+)+b","summary":"s","explanation":"e"}]})")
                         .string()},
        {"{absent}", (root_ / "absent.json").string()}};
    const auto placed = [&files](std::string text) {
        for (const auto& [name, path] : files) {
            for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at))
                text.replace(at, name.size(), path);
        }
        return text;
    };
    const auto cases = testing::readCases("cli/guard-commands.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        std::vector<std::string> arguments;
        for (const auto& argument : row[0])
            arguments.push_back(placed(argument.get<std::string>()));
        EXPECT_EQ(invoke(arguments, row[1].get<std::string>()),
                  (Invocation{row[2].get<int>(), placed(row[3].get<std::string>()), placed(row[4].get<std::string>())}))
            << arguments.back().substr(0, 40) << row[1];
    }

    // A hostile rules file or command can neither move the cursor nor reorder the warning.
    const auto hostile = writeFile("hostile.json", R"({"currentVersion":"h","rules":[{"id":"evil","platform":"sh",
        "severity":"danger","pattern":"evil\\S*","summary":"\u001b[2KAll \u202egood","explanation":"e"}]})");
    EXPECT_EQ(invoke({"guard", "--rules", hostile.string(), "evil\x1b[1A\u202e\xFF"}),
              prints(1, "danger: \\x1b[2KAll \\u202egood\n  matched: evil\\x1b[1A\\u202e\uFFFD\n"));
    const std::string tooLong = "the text is longer than 32768 bytes and was not examined";
    EXPECT_EQ(invoke({"guard", "--json"}, std::string(40000, 'a')),
              (Invocation{5, R"({"error":"textNotExamined","message":")" + tooLong + "\"}\n",
                          "tessaril: " + tooLong + "\n"}));
    // Input beyond 16 MB is refused whole, never cut: 17 MB of blanks would hide the command.
    const std::string padded = std::string(17 * 1024 * 1024, ' ') + "rm -rf /";
    EXPECT_EQ(invoke({"neutralize"}, padded),
              (Invocation{5, "", "tessaril: the input is longer than 16 MB and was not neutralized\n"}));
    EXPECT_EQ(invoke({"guard"}, padded),
              (Invocation{5, "", "tessaril: the input is longer than 16 MB and was not examined\n"}));
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
