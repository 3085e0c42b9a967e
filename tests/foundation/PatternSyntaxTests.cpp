// SPDX-License-Identifier: GPL-3.0-or-later
// The one reading of pattern text: what it refuses, and what it reads on past. What each reader of
// the tree makes of it is tested with that reader.
#include "core/cleaning/matching/NameRuleIndex.h"
#include "core/foundation/PatternSyntax.h"
#include "core/foundation/RulePrefilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaril {
namespace {

TEST(PatternSyntax, RefusesBrokenPatternsAndWhatWouldChangeTheReading) {
    for (const char* bad : {"(",      "a)",    "[a",     "[a\\]", "*a",    "a|*b",    "(*)",     "a**",  "a{2}{3}",
                            "a{2,1}", "a{",    "a{,2}",  "a{1",   "}",     "\\",      "(?",      "(?<n", "(?#c",
                            "\\p{L",  "\\N{X", "\\x{41", "\xff",  "a\xc3", "(?x)a b", "(?i-x:a)"})
        EXPECT_FALSE(PatternSyntax::parse(bad)) << bad;
    // ICU refuses a hundred nested groups; however deep a pattern nests, reading it takes little
    // stack, and the readers of the tree give up on it.
    EXPECT_TRUE(PatternSyntax::parse(std::string(99, '(') + std::string(99, ')')));
    EXPECT_FALSE(PatternSyntax::parse(std::string(100, '(') + std::string(100, ')')));
    const std::string deep = std::string(200000, '(') + "a" + std::string(200000, ')');
    EXPECT_TRUE(RulePrefilter::fromPattern(deep).requirements().empty());
    EXPECT_FALSE(NameRuleIndex::literalExpansion(deep));
}

// An opaque node stands for what is not modelled, and the text after it is read as usual: bars in
// a set, an escape or a group do not split the pattern, and a quantifier repeats the node before.
TEST(PatternSyntax, ReadsOnPastWhatItDoesNotModel) {
    const std::string pattern = "(?i)a\\k<n>\\N{A|B}?|[|]\\||(?m:x|y)\\cb+|\\x{110000}";
    const auto syntax = PatternSyntax::parse(pattern);
    ASSERT_TRUE(syntax);
    EXPECT_TRUE(syntax->caseInsensitive());
    std::vector<std::string> branches;
    for (auto b = syntax->node(PatternSyntax::root).child; b >= 0; b = syntax->node(b).next)
        branches.push_back(pattern.substr(syntax->node(b).begin, syntax->node(b).end - syntax->node(b).begin));
    EXPECT_EQ(branches, (std::vector<std::string>{"a\\k<n>\\N{A|B}?", "[|]\\|", "(?m:x|y)\\cb+", "\\x{110000}"}));
}

}  // namespace
}  // namespace tessaril
