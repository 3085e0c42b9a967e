// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/foundation/Regex.h"
#include "core/foundation/RulePrefilter.h"

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace tessaril {
namespace {

using Fragments = std::vector<std::string>;

// The most selective requirement.
Fragments fragmentsOf(const std::string& pattern) {
    const auto filter = RulePrefilter::fromPattern(pattern);
    return filter.requirements().empty() ? Fragments{} : filter.requirements().front();
}

TEST(RulePrefilter, KeepsTheMostSelectiveLiteralEveryMatchContains) {
    EXPECT_EQ(fragmentsOf("curl[^ ]+ \\| sh"), Fragments{" | sh"});
    EXPECT_EQ(fragmentsOf("(?i)\\b(?:IWR|irm)\\b"), (Fragments{"irm", "iwr"}));
    EXPECT_EQ(fragmentsOf("rm\\s+-rf|mkfs\\.\\w+"), (Fragments{"-rf", "mkfs."}));
    EXPECT_EQ(fragmentsOf("(?:a|b)c{2}xyz"), Fragments{"xyz"});
    EXPECT_EQ(fragmentsOf("\\x{200B}ab"), Fragments{"\xE2\x80\x8B"
                                                    "ab"});
    // Optional and repeated parts never extend a fragment past what must occur.
    EXPECT_EQ(fragmentsOf("ab?cd"), Fragments{"cd"});
    EXPECT_EQ(fragmentsOf("x(?:yz)*w"), Fragments{"x"});
    EXPECT_EQ(fragmentsOf("ab+"), Fragments{"a"});
    // Lookarounds and anchors require nothing of their own.
    EXPECT_EQ(fragmentsOf("(?<![a-z])foo(?=bar)$"), Fragments{"foo"});
    // A group of literals joins the literals around it, one fragment per text it can match...
    EXPECT_EQ(fragmentsOf("^https?:\\/\\/(?:x|twitter)\\.com(?::\\d+)?"), (Fragments{"://x.com", "://twitter.com"}));
    EXPECT_EQ(fragmentsOf("a(?:b|c(?:d|e))f"), (Fragments{"abf", "acdf", "acef"}));
    EXPECT_EQ(fragmentsOf("ab(?:c|$)d"), (Fragments{"abd", "abcd"}));
    // ...keeping only those that hold no other, as a text holding "ab" is all it takes...
    EXPECT_EQ(fragmentsOf("(?:xab|ab|abx)"), Fragments{"ab"});
    // ...and none when the group may match nothing.
    EXPECT_EQ(fragmentsOf("(?:abc|)de"), Fragments{"de"});
    // Too many texts together: a new stretch starts where they would be too many.
    EXPECT_EQ(fragmentsOf("(?:a|b|c|d|e)(?:f|g|h|i|j)xyzw"), (Fragments{"fxyzw", "gxyzw", "hxyzw", "ixyzw", "jxyzw"}));

    // In one sequence every part is required, so a text must hold a fragment of each.
    const auto both = RulePrefilter::fromPattern("(?i)\\b(?:curl|wget)\\b.*(?:id_rsa|\\.aws/credentials)");
    EXPECT_EQ(both.requirements(), (std::vector<Fragments>{{".aws/credentials", "id_rsa"}, {"curl", "wget"}}));
    EXPECT_TRUE(both.mayMatch("", "curl -d @id_rsa x"));
    EXPECT_FALSE(both.mayMatch("", "curl https://example.com"));
    EXPECT_FALSE(both.mayMatch("", "cat id_rsa"));
}

TEST(RulePrefilter, LetsEverythingThroughWhenUnsure) {
    for (const char* pattern : {"abc|\\d+", "[a-z]+", "a(?i)bc", "(?x) a b c", "\\Qabc\\E", "(?#c)abc", "(abc",
                                "\\k<n>", "(?i)caf\\x{E9}", "a{2,"}) {
        const auto filter = RulePrefilter::fromPattern(pattern);
        EXPECT_TRUE(filter.requirements().empty()) << pattern;
        EXPECT_TRUE(filter.mayMatch("anything", "anything")) << pattern;
    }
}

TEST(RulePrefilter, NeverSkipsATextTheExpressionMatches) {
    const std::vector<std::string> patterns = {"(?i)invoke-expression", "(?i)\\bkill\\b", "(?i)disable",
                                               "curl.*\\|\\s*sh", "(?i)schtasks\\s+/create"};
    const std::vector<std::string> texts = {"Invoke-Expression $x",
                                            "INVOKE-EXPRESSION",
                                            "\xE2\x84\xAA"
                                            "ill -9 1",
                                            "di\xC5\xBF"
                                            "able it",
                                            "curl x | sh",
                                            "SCHTASKS /CREATE /tn x",
                                            "kıll",
                                            "nothing to see here"};
    for (const auto& pattern : patterns) {
        const auto regex = Regex::compile(pattern);
        ASSERT_TRUE(regex.has_value()) << pattern;
        const auto filter = RulePrefilter::fromPattern(pattern);
        EXPECT_FALSE(filter.requirements().empty()) << pattern;
        for (const auto& text : texts) {
            if (regex->search(text)) {
                EXPECT_TRUE(filter.mayMatch(text, RulePrefilter::foldForMatching(text))) << pattern << " / " << text;
            }
        }
        EXPECT_FALSE(filter.mayMatch("nothing to see here", "nothing to see here")) << pattern;
    }
}

TEST(RulePrefilter, NeverSkipsATextTheExpressionMatchesOnRandomPatterns) {
    std::mt19937 random(11);
    // Patterns of literals, groups, alternatives, anchors and repetitions over two letters, so that
    // random texts often match them.
    std::function<std::string(int)> pattern = [&](int depth) {
        std::string out;
        const int parts = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < parts; ++i) {
            switch (random() % (depth > 0 ? 6 : 4)) {
                case 0:
                    out += "a";
                    break;
                case 1:
                    out += "b";
                    break;
                case 2:
                    out += "[ab]";
                    break;
                case 3:
                    // Not repeated: ICU's search of a repeated anchor inside a repeated group takes
                    // seconds to give up.
                    out += random() % 2 == 0 ? "$" : "^";
                    continue;
                default: {
                    out += "(?:" + pattern(depth - 1);
                    for (int alternatives = static_cast<int>(random() % 3); alternatives > 0; --alternatives)
                        out += "|" + pattern(depth - 1);
                    out += ")";
                }
            }
            if (random() % 5 == 0) out += std::string(1, "?*+"[random() % 3]);
        }
        return out;
    };
    for (int round = 0; round < 2000; ++round) {
        const std::string expression = pattern(2);
        const auto regex = Regex::compile(expression);
        ASSERT_TRUE(regex.has_value()) << expression;
        const auto filter = RulePrefilter::fromPattern(expression);
        for (int t = 0; t < 100; ++t) {
            std::string text;
            for (int length = static_cast<int>(random() % 8); length > 0; --length)
                text += "ab"[random() % 2];
            if (regex->search(text)) {
                ASSERT_TRUE(filter.mayMatch(text, RulePrefilter::foldForMatching(text))) << expression << " / " << text;
            }
        }
    }
}

}  // namespace
}  // namespace tessaril
