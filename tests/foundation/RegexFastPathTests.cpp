// SPDX-License-Identifier: GPL-3.0-or-later
// The regex fast paths (the lazy DFA for search, the backtracker for ranges) at their limits. That
// they answer as ICU does is fuzz/LazyDfaFuzzer.cpp's, on arbitrary patterns and texts and on the
// shipped patterns with corpus texts among its seeds. By hand what that comparison seldom meets: the
// syntax they leave to ICU, and the limits.
#include "core/foundation/NfaBacktracker.h"
#include "core/foundation/Regex.h"
#include "core/foundation/RegexNfa.h"

#include <gtest/gtest.h>

#include <string>

namespace tessaril {
namespace {

std::string describe(const std::optional<RegexMatch>& match) {
    if (!match) return "no match";
    std::string out = std::to_string(match->whole.begin) + "-" + std::to_string(match->whole.end);
    for (const auto& group : match->groups)
        out += group ? " " + std::to_string(group->begin) + "-" + std::to_string(group->end) : " -";
    return out;
}

// Syntax that changes what matches in ways no shipped pattern shows is declined; nesting and counts
// are bounded. (Empty iterations, which ICU stops and an automaton cannot, leave ranges to ICU: the
// fuzzer's seeds hold such patterns, whose ranges it compares with ICU's.)
TEST(RegexFastPath, DeclinedSyntaxAndLimits) {
    for (const char* pattern : {"a*+", "a{2}+", "(?>a)", "(?=a)", "(?<!a)b", "(a)\\1", "\\b", "a(?i)b", "(?m)^a",
                                "(?s).", "\\p{L}", "[a-z&&[aeiou]]", "[a--b]", "a{257}", "a{1001}", "(?:ab){129}"})
        EXPECT_EQ(RegexNfa::parse(pattern, true), nullptr) << pattern;
    EXPECT_EQ(RegexNfa::parse(std::string(65, '(') + std::string(65, ')'), false), nullptr);
    for (const auto& pattern :
         {std::string(64, '(') + std::string(64, ')'), std::string("a{256}"), std::string("a{0000001}")})
        EXPECT_NE(RegexNfa::parse(pattern, false), nullptr) << pattern;
}

TEST(RegexFastPath, TheBacktrackerStopsAtItsBudget) {
    // The backtracker marks one bit per (node, offset) and stops at its budget.
    const NfaBacktracker backtracker(RegexNfa::parse("(.)+$", false));
    const std::string huge(NfaBacktracker::visitBudget, 'a');
    EXPECT_TRUE(backtracker.answers(huge.substr(1)));
    EXPECT_FALSE(backtracker.answers(huge));
    auto product = *Regex::compile("(.)+$");
    auto icu = product;
    icu.setFastPathEnabled(false);
    for (auto* regex : {&product, &icu})
        regex->setWorkLimit(200);
    EXPECT_EQ(describe(product.firstMatch(huge)), describe(icu.firstMatch(huge)));
}

// Linear time where ICU backtracks exponentially: answered, and not reported as cut short. Where the
// fast paths cannot answer, ICU, compiled only then, keeps the limit set before: running out of work
// is no match (nothing replaced) and reported, until the next answer.
TEST(RegexFastPath, NeverGivesUpAndClearsTheLimitFlag) {
    const std::string hostile = std::string(40, 'a') + "!";
    auto ranges = *Regex::compile("^((a+)+)b|(a)");
    ranges.setWorkLimit(1);
    EXPECT_EQ(describe(ranges.firstMatch(hostile)), "0-1 - - 0-1");
    EXPECT_FALSE(ranges.lastMatchHitLimit());
    EXPECT_EQ(ranges.replaceAll(hostile, ""), "!");
    // ICU gives up on the first branch at offset 0 before it tries the second.
    auto search = *Regex::compile("(?:a+)+c|b");
    search.setWorkLimit(1);
    EXPECT_TRUE(search.search(hostile + "b"));
    EXPECT_FALSE(search.lastMatchHitLimit());
    EXPECT_FALSE(search.search(hostile + "\303\251"));
    EXPECT_TRUE(search.lastMatchHitLimit());
    EXPECT_FALSE(search.firstMatch(hostile + "\303\251").has_value());
    EXPECT_EQ(search.replaceAll(hostile + "\303\251", "x"), hostile + "\303\251");
    EXPECT_FALSE(search.search("zzz"));
    EXPECT_FALSE(search.lastMatchHitLimit());
    EXPECT_TRUE(search.search("\303\251aac"));  // ICU again, no longer out of work
}

}  // namespace
}  // namespace tessaril
