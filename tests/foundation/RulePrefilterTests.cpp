// SPDX-License-Identifier: GPL-3.0-or-later
// The prefilter's reading of patterns. That it never turns away a text the pattern matches is also
// fuzz/LazyDfaFuzzer.cpp's to check, on arbitrary patterns and on the shipped ones among its seeds.
#include "core/foundation/Regex.h"
#include "core/foundation/RulePrefilter.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaril {
namespace {

using Fragments = std::vector<std::string>;

TEST(RulePrefilter, KeepsTheMostSelectiveLiteralEveryMatchContains) {
    const auto cases = testing::readCases("foundation/prefilter-requirements.json");
    ASSERT_GT(cases.size(), 20U);
    for (const auto& row : cases) {
        const std::string pattern = row[0];
        const auto filter = RulePrefilter::fromPattern(pattern);
        if (row[1].is_null()) {
            EXPECT_TRUE(filter.mayMatch("", "")) << pattern;
        } else {
            ASSERT_FALSE(filter.requirements().empty()) << pattern;
            EXPECT_EQ(filter.requirements().front(), row[1].get<Fragments>()) << pattern;
        }
    }
    // In one sequence every part is required, so a text must hold a fragment of each.
    const auto both = RulePrefilter::fromPattern("(?i)\\b(?:curl|wget)\\b.*(?:id_rsa|\\.aws/credentials)");
    EXPECT_EQ(both.requirements(), (std::vector<Fragments>{{".aws/credentials", "id_rsa"}, {"curl", "wget"}}));
    EXPECT_TRUE(both.mayMatch("", "curl -d @id_rsa x"));
    EXPECT_FALSE(both.mayMatch("", "curl https://example.com"));
    EXPECT_FALSE(both.mayMatch("", "cat id_rsa"));
}

// Case-insensitive filters compare folded text, in which ICU's other spellings of ASCII letters
// (Kelvin sign, long s) are the letters themselves.
TEST(RulePrefilter, NeverSkipsATextTheExpressionMatches) {
    const char* const matches[][2] = {{"(?i)invoke-expression", "INVOKE-EXPRESSION"},
                                      {"(?i)\\bkill\\b", "\xE2\x84\xAAill -9 1"},
                                      {"(?i)disable", "di\u017Fable it"}};
    for (const auto& [pattern, text] : matches) {
        const auto filter = RulePrefilter::fromPattern(pattern);
        ASSERT_TRUE(Regex::compile(pattern)->search(text)) << pattern;
        EXPECT_TRUE(filter.mayMatch(text, RulePrefilter::foldForMatching(text))) << pattern << " / " << text;
        EXPECT_FALSE(filter.mayMatch("nothing to see here", "nothing to see here")) << pattern;
    }
}

}  // namespace
}  // namespace tessaril
