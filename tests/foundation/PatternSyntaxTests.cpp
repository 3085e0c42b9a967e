// SPDX-License-Identifier: GPL-3.0-or-later
// The one reading of pattern text: what it refuses, and what it reads on past. What each reader of
// the tree makes of it is tested with that reader.
#include "core/cleaning/matching/NameRuleIndex.h"
#include "core/foundation/PatternSyntax.h"
#include "core/foundation/RulePrefilter.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
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

// A name rule whose words can be listed is answered by lookup; anything else keeps its expression.
TEST(PatternSyntax, NameRulesListTheWordsOfFinitePatternsOnly) {
    using Words = std::vector<std::string>;
    const std::vector<std::pair<std::string, Words>> finite = {
        {"Utm_Source", {"utm_source"}},
        {"(?:%3F)?fb_(?:source|ref)", {"%3ffb_ref", "%3ffb_source", "fb_ref", "fb_source"}},
        {"a\\.b(?:c|d)??e?+", {"a.b", "a.bc", "a.bce", "a.bd", "a.bde", "a.be"}},
        {"x\\(\\)(?:(?:y))", {"x()y"}},
    };
    for (const auto& [pattern, words] : finite)
        EXPECT_EQ(NameRuleIndex::literalExpansion(pattern).value_or(Words{}), words) << pattern;
    for (const char* open : {"a.b", "[ab]c", "ab*", "a+", "a{2}", "(ab)", "(?i)ab", "(?i:ab)", "a\\d", "^ab", "ab|cd",
                             "a b", "a\\", "\\Qab\\E"})
        EXPECT_FALSE(NameRuleIndex::literalExpansion(open)) << open;
}

}  // namespace
}  // namespace tessaril
