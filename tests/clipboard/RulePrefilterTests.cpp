// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/clipboard/RulePrefilter.h"
#include "core/foundation/Regex.h"

#include <string>
#include <vector>

namespace tessaril {
namespace {

using Fragments = std::vector<std::string>;

Fragments fragmentsOf(const std::string& pattern) {
    return RulePrefilter::fromPattern(pattern).fragments();
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
}

TEST(RulePrefilter, LetsEverythingThroughWhenUnsure) {
    for (const char* pattern : {"abc|\\d+", "[a-z]+", "a(?i)bc", "(?x) a b c", "\\Qabc\\E", "(?#c)abc", "(abc",
                                "\\k<n>", "(?i)caf\\x{E9}", "a{2,"}) {
        const auto filter = RulePrefilter::fromPattern(pattern);
        EXPECT_TRUE(filter.fragments().empty()) << pattern;
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
        EXPECT_FALSE(filter.fragments().empty()) << pattern;
        for (const auto& text : texts) {
            if (regex->search(text)) {
                EXPECT_TRUE(filter.mayMatch(text, RulePrefilter::foldForMatching(text))) << pattern << " / " << text;
            }
        }
        EXPECT_FALSE(filter.mayMatch("nothing to see here", "nothing to see here")) << pattern;
    }
}

}  // namespace
}  // namespace tessaril
