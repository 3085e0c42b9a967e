// SPDX-License-Identifier: GPL-3.0-or-later
// The prefilter's reading of patterns. That it never turns away a text the pattern matches is also
// checked on generated and shipped patterns by the regex differential test, and by the regex fuzzer.
#include "core/foundation/Regex.h"
#include "core/foundation/RulePrefilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaril {
namespace {

using Fragments = std::vector<std::string>;

TEST(RulePrefilter, KeepsTheMostSelectiveLiteralEveryMatchContains) {
    // Each pattern and its most selective requirement.
    const std::pair<const char*, Fragments> cases[] = {
        {"curl[^ ]+ \\| sh", {" | sh"}},
        {"(?i)\\b(?:IWR|irm)\\b", {"irm", "iwr"}},
        {"rm\\s+-rf|mkfs\\.\\w+", {"-rf", "mkfs."}},
        {"(?:a|b)c{2}xyz", {"xyz"}},
        {"\\x{200B}ab", {"\u200Bab"}},
        // Optional and repeated parts never extend a fragment past what must occur.
        {"ab?cd", {"cd"}},
        {"x(?:yz)*w", {"x"}},
        {"ab+", {"a"}},
        // Look-arounds and anchors require nothing of their own.
        {"(?<![a-z])foo(?=bar)$", {"foo"}},
        // A group of literals joins the literals around it, one fragment per text it can match...
        {"^https?:\\/\\/(?:x|twitter)\\.com(?::\\d+)?", {"://x.com", "://twitter.com"}},
        {"a(?:b|c(?:d|e))f", {"abf", "acdf", "acef"}},
        {"ab(?:c|$)d", {"abd", "abcd"}},
        // ...keeping only those that hold no other, as a text holding "ab" is all it takes...
        {"(?:xab|ab|abx)", {"ab"}},
        // ...and none when the group may match nothing.
        {"(?:abc|)de", {"de"}},
        // Too many texts together: a new stretch starts where they would be too many.
        {"(?:a|b|c|d|e)(?:f|g|h|i|j)xyzw", {"fxyzw", "gxyzw", "hxyzw", "ixyzw", "jxyzw"}},
    };
    for (const auto& [pattern, fragments] : cases) {
        const auto filter = RulePrefilter::fromPattern(pattern);
        ASSERT_FALSE(filter.requirements().empty()) << pattern;
        EXPECT_EQ(filter.requirements().front(), fragments) << pattern;
    }
    // Whatever the reading is unsure of lets every text through, even inside a look-around.
    for (const char* pattern : {"abc|\\d+", "[a-z]+", "a(?i)bc", "(?x) a b c", "\\Qabc\\E", "(?#c)abc", "(abc",
                                "\\k<n>", "(?i)caf\\x{E9}", "a{2,", "(?=\\k<n>)abc"})
        EXPECT_TRUE(RulePrefilter::fromPattern(pattern).mayMatch("", "")) << pattern;
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
