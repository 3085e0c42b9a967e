// SPDX-License-Identifier: GPL-3.0-or-later
// firstMatch and replaceAll answered by the backtracker against ICU alone, where leftmost-first
// matching is easy to get subtly wrong, and what must be left to ICU.
#include "core/foundation/NfaBacktracker.h"
#include "core/foundation/Regex.h"
#include "tests/foundation/RegexReference.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

namespace tessaril {
namespace {

using testing::icuOnly;
using testing::randomPattern;
using testing::randomText;

std::string describe(const std::optional<RegexMatch>& match) {
    if (!match) return "no match";
    std::ostringstream out;
    out << "[" << match->whole.begin << "," << match->whole.end << ")";
    for (const auto& group : match->groups) {
        if (group) {
            out << " [" << group->begin << "," << group->end << ")";
        } else {
            out << " -";
        }
    }
    return out.str();
}

// The product's Regex must answer without ICU, and exactly as ICU does.
void expectICUsMatches(const std::string& pattern, const std::string& text, bool caseInsensitive = false) {
    const auto nfa = RegexNfa::parse(pattern, caseInsensitive);
    ASSERT_TRUE(nfa && nfa->capturesExact()) << pattern;
    ASSERT_TRUE(NfaBacktracker(nfa).answers(text)) << pattern << " on " << text;
    auto icu = icuOnly(pattern, caseInsensitive);
    const auto product = Regex::compile(pattern, caseInsensitive);
    EXPECT_EQ(describe(product->firstMatch(text)), describe(icu.firstMatch(text))) << pattern << " on " << text;
    EXPECT_EQ(product->replaceAll(text, "<>"), icu.replaceAll(text, "<>")) << pattern << " on " << text;
}

// Which branch and which repetition count win, what a group inside a repetition keeps, groups that
// take no part, anchors and case folding. The shipped patterns are the differential test's.
TEST(NfaBacktracker, FindsICUsMatchAndGroups) {
    const struct {
        const char* pattern;
        const char* text;
        bool caseInsensitive = false;
    } cases[] = {
        // Greedy against lazy, plain and counted.
        {"a(.*)b", "aXbYb"},
        {"a(.*?)b", "aXbYb"},
        {"(a+?)(a*)", "aaaa"},
        {"(a{1,3}?)(a*)", "aaaa"},
        {"(a{2,3})(a*)", "aaaa"},
        {"(a?"
         "?)(a)",
         "aa"},  // "a" then a lazy "?"
        {"(a{2,}?)(a*)", "aaaaa"},
        // Alternatives in order, not the longest; the leftmost start before a longer match.
        {"(a|ab)(c|bcd)(d*)", "abcd"},
        {"(ab|a)(bc|c)?", "abc"},
        {"x(?:(y)|(yz))z", "xyzz"},
        {"(b+)|(c+)", "acccbbb"},
        {"x*", "yxx"},
        // Groups in repetitions keep their last iteration, or one before it they took part in.
        {"(?:(a)|(b))+", "ab"},
        {"(?:(a)|(b))+", "ba"},
        {"((a)|b)+", "ab"},
        {"(?:(\\d)x){2,3}y", "1x2x3xy"},
        {"(?:(a)(b)?)+", "aba"},
        {"(?:(x)|y){3}", "xyy"},
        {"((x)|(y))+?z", "xyz"},
        // Groups that take no part.
        {"(a){0}b", "ab"},
        {"(a)|b|(c)", "b"},
        {"(x)?y", "y"},
        {"()", "a"},
        {"", "ab"},
        // Loops over one set are walked without their set's node: the order of tries, a loop whose
        // set node is also entered from outside (x+), runs cut short by explored offsets, and loops
        // that a later start offset reaches again.
        {"(a*)a(a*?)b", "aaab"},
        {"([^&]*)&?(.)", "ab&cd"},
        {".*?u=([^&]*)", "x?au=1&u=2"},
        {".*u=([^&]*)", "x?au=1&u=2&v"},
        {"(x+)(x+?)y", "xxxxy"},
        {"([a-c]+?)([b-d]+)c", "abcbdc"},
        {"(?:a+b)+(c)", "aabab aababc"},
        {"z[^z]*?q", "zaaazbq"},
        // Anchors and case folding.
        {"^(a*)$", "aab"},
        {"(^a|b)", "ba"},
        {"(a$)|(a)", "aa"},
        {"(a)(^|b)", "ab"},
        {"(?:^|&)(x)=", "a&x=1"},
        {"(A+)(b)", "aAB", true},
        {"(?i)([a-c]+)", "xAbC"},
        {"([^a-c]+)", "ABCdef", true},
    };
    for (const auto& c : cases)
        expectICUsMatches(c.pattern, c.text, c.caseInsensitive);
}

// The empty iterations ICU stops and an automaton cannot: such patterns keep the DFA but leave
// capture groups to ICU, as do texts outside printable ASCII and texts beyond the budget.
TEST(NfaBacktracker, LeavesToICUWhatItCannotAnswerExactly) {
    for (const char* pattern : {"(a|)+", "(a*)*", "(?:a?){2}b", "(?:x|$)*", "(?:()|a)+", "(a?)+?b"}) {
        const auto nfa = RegexNfa::parse(pattern, false);
        ASSERT_NE(nfa, nullptr) << pattern;
        EXPECT_FALSE(nfa->capturesExact()) << pattern;
    }
    auto regex = *Regex::compile("(a|)+b");
    auto icu = icuOnly("(a|)+b");
    EXPECT_EQ(describe(regex.firstMatch("aab")), describe(icu.firstMatch("aab")));

    // One node where paths join, the loop's: a bit per offset.
    const NfaBacktracker any(RegexNfa::parse("(.)+", false));
    EXPECT_FALSE(any.answers("\303\251"));
    EXPECT_FALSE(any.answers("a\tb"));
    EXPECT_EQ(Regex::compile("(.)")->firstMatch("\303\251x")->groups[0], (TextRange{0, 2}));
    const std::string huge(NfaBacktracker::visitBudget, 'a');
    EXPECT_TRUE(any.answers(huge.substr(1)));
    EXPECT_FALSE(any.answers(huge));
    EXPECT_EQ(describe(Regex::compile("(.)+$")->firstMatch(huge)), describe(icuOnly("(.)+$").firstMatch(huge)));
}

TEST(NfaBacktracker, AgreesWithICUOnRandomExpressions) {
    std::mt19937 random(99);
    int answered = 0;
    for (int round = 0; round < 600; ++round) {
        const std::string pattern = randomPattern(random, 0);
        const bool caseInsensitive = random() % 2 == 0;
        const auto nfa = RegexNfa::parse(pattern, caseInsensitive);
        if (!nfa || !nfa->capturesExact()) continue;
        auto product = *Regex::compile(pattern, caseInsensitive);
        auto icu = icuOnly(pattern, caseInsensitive);
        ASSERT_EQ(product.captureGroupCount(), icu.captureGroupCount()) << pattern;
        for (int t = 0; t < 8; ++t) {
            const std::string text = randomText(random);
            const auto expected = icu.firstMatch(text);
            if (icu.lastMatchHitLimit()) continue;
            ++answered;
            ASSERT_EQ(describe(product.firstMatch(text)), describe(expected))
                << pattern << (caseInsensitive ? " (i) on " : " on ") << text;
            ASSERT_EQ(product.replaceAll(text, "<>"), icu.replaceAll(text, "<>")) << pattern << " on " << text;
        }
    }
    EXPECT_GT(answered, 2000);
}

// Linear time where ICU backtracks exponentially: answered, and not reported as cut short.
TEST(NfaBacktracker, NeverGivesUpAndClearsTheLimitFlag) {
    auto regex = *Regex::compile("^((a+)+)b|(a)");
    regex.setWorkLimit(1);
    Regex slow = regex;
    slow.setFastPathEnabled(false);
    const std::string hostile = std::string(40, 'a') + "!";
    EXPECT_FALSE(slow.firstMatch(hostile).has_value());
    EXPECT_TRUE(slow.lastMatchHitLimit());
    EXPECT_EQ(describe(regex.firstMatch(hostile)), "[0,1) - - [0,1)");
    EXPECT_FALSE(regex.lastMatchHitLimit());
    EXPECT_EQ(regex.replaceAll(hostile, ""), "!");
    EXPECT_FALSE(regex.lastMatchHitLimit());
}

}  // namespace
}  // namespace tessaril
