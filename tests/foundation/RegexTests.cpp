// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Regex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace tessaril {
namespace {

Regex compiled(std::string_view pattern, bool caseInsensitive = false) {
    auto regex = Regex::compile(pattern, caseInsensitive);
    EXPECT_TRUE(regex.has_value()) << pattern;
    return regex ? *regex : *Regex::compile("");
}

TEST(Regex, CaseSensitivityFollowsTheFlag) {
    auto exact = compiled("utm_source");
    EXPECT_TRUE(exact.search("a?utm_source=x"));
    EXPECT_FALSE(exact.search("a?UTM_Source=x"));

    auto folded = compiled("utm_source", true);
    EXPECT_TRUE(folded.search("a?UTM_Source=x"));
    // Case folding is Unicode-aware, not ASCII-only.
    EXPECT_TRUE(compiled("ÉTÉ", true).search("un été"));
    EXPECT_EQ(folded.pattern(), "utm_source");
}

TEST(Regex, RangesAreUtf8ByteOffsets) {
    // "é" is two bytes, "日本" six, "🙂" four: any UTF-16 leak would shift the offsets.
    const std::string text = "é日本🙂 id=42&x";
    auto regex = compiled(R"(id=(\d+)(&)?(z)?)");
    ASSERT_EQ(regex.captureGroupCount(), 3U);
    auto match = regex.firstMatch(text);
    ASSERT_TRUE(match.has_value());
    EXPECT_EQ(match->whole, (TextRange{13, 19}));
    EXPECT_EQ(text.substr(match->whole.begin, match->whole.end - match->whole.begin), "id=42&");
    ASSERT_EQ(match->groups.size(), 3U);
    EXPECT_EQ(match->groups[0], (TextRange{16, 18}));
    EXPECT_EQ(match->groups[1], (TextRange{18, 19}));
    EXPECT_FALSE(match->groups[2].has_value());  // did not take part

    // A group that matched the empty string is present, unlike one that did not take part.
    auto empty = compiled("x(a*)y");
    auto emptyMatch = empty.firstMatch("🙂xy");
    ASSERT_TRUE(emptyMatch.has_value());
    EXPECT_EQ(emptyMatch->groups[0], (TextRange{5, 5}));

    EXPECT_FALSE(regex.firstMatch("no digits here").has_value());
}

TEST(Regex, RejectsBadPatternsAndAcceptsTheEmptyOne) {
    for (std::string_view bad : {"(", "[a-", "a{2,1}", "*a", "(?<name", "\\", "a)", "\xff\xfe"}) {
        EXPECT_FALSE(Regex::compile(bad).has_value()) << bad;
    }
    auto empty = Regex::compile("");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->search(""));
    EXPECT_TRUE(empty->search("anything"));
    auto match = empty->firstMatch("abc");
    ASSERT_TRUE(match.has_value());
    EXPECT_EQ(match->whole, (TextRange{0, 0}));
}

TEST(Regex, EscapedLiteralMatchesOnlyItself) {
    const std::string literals[] = {
        R"(a.b*c+d?e(f)[g]{h}^$|\)",
        R"(\E\Q\E.*)",
        "tab\tnew\nline space#comment",
        "/path?q=1&r=[2]",
        "naïve 日本 🙂",
        "\\",
        "",
    };
    for (const auto& literal : literals) {
        auto regex = compiled("^" + Regex::escape(literal) + "$");
        EXPECT_TRUE(regex.search(literal)) << literal;
        // Nothing the metacharacters could have meant as a pattern may match too.
        if (!literal.empty()) {
            EXPECT_FALSE(regex.search(literal + "x")) << literal;
        }
    }
    EXPECT_FALSE(compiled(Regex::escape("a.c")).search("abc"));
    EXPECT_FALSE(compiled(Regex::escape("a*")).search("aaa"));
    // Under free-spacing mode the spaces of the literal still count.
    EXPECT_TRUE(compiled("(?x)^" + Regex::escape("a b") + "$").search("a b"));
}

TEST(Regex, ReplaceAllTakesTheReplacementLiterally) {
    auto regex = compiled(R"(([a-z]+)=\d+)");
    EXPECT_EQ(regex.replaceAll("a=1&bb=22&C=3", "$1\\0"), "$1\\0&$1\\0&C=3");
    EXPECT_EQ(regex.replaceAll("nothing", "x"), "nothing");
    EXPECT_EQ(compiled("é").replaceAll("éaé", "e"), "eae");
    // Empty matches insert between every character without looping forever.
    EXPECT_EQ(compiled("").replaceAll("ab", "-"), "-a-b-");
}

TEST(Regex, CopiesShareThePatternButNotTheMatcher) {
    auto original = compiled("(b+)");
    Regex copy = original;
    auto first = original.firstMatch("abbbc");
    auto second = copy.firstMatch("xb");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->groups[0], (TextRange{1, 4}));
    EXPECT_EQ(second->groups[0], (TextRange{1, 2}));
    // Interleaved use: a search on the copy must not disturb the original's next result.
    EXPECT_TRUE(original.search("b"));
    EXPECT_FALSE(copy.search("zzz"));
    EXPECT_TRUE(original.search("b"));

    Regex assigned = compiled("zzz");
    assigned = original;
    EXPECT_EQ(assigned.pattern(), "(b+)");
    EXPECT_TRUE(assigned.search("abc"));
    Regex moved = std::move(assigned);
    EXPECT_TRUE(moved.search("b"));
}

TEST(Regex, DeferredCompilesOnFirstUseAndMatchesLikeCompiled) {
    Regex deferred = Regex::deferred("^(?:utm_)?(source)$", true);
    deferred.setWorkLimit(1000);
    Regex copy = deferred;  // copied before either has compiled
    EXPECT_EQ(deferred.pattern(), "^(?:utm_)?(source)$");
    EXPECT_TRUE(deferred.search("UTM_Source"));
    EXPECT_FALSE(deferred.search("utm_sources"));
    EXPECT_EQ(copy.captureGroupCount(), 1u);
    EXPECT_EQ(copy.firstMatch("source")->groups[0], (TextRange{0, 6}));
    EXPECT_EQ(copy.replaceAll("source", "x"), "x");

    // A pattern the automaton reads is compiled by ICU only once a text needs ICU (here, text
    // outside printable ASCII); the work limit set before holds then.
    auto lazy = *Regex::compile("^(caf.)$", true);
    EXPECT_EQ(lazy.captureGroupCount(), 1u);
    EXPECT_EQ(lazy.firstMatch("CAF\u00C9")->groups[0], (TextRange{0, 5}));
    auto limited = *Regex::compile("^(a|a)*b$");
    limited.setWorkLimit(1);
    EXPECT_FALSE(limited.search(std::string(30, 'a') + "\u00E9"));
    EXPECT_TRUE(limited.lastMatchHitLimit());

    // A pattern that does not compile after all matches nothing, and neither does its copy.
    Regex broken = Regex::deferred("(", false);
    for (const Regex& regex : {broken, Regex(broken)}) {
        EXPECT_FALSE(regex.search("("));
        EXPECT_FALSE(regex.firstMatch("(").has_value());
        EXPECT_EQ(regex.replaceAll("((", "x"), "((");
        EXPECT_EQ(regex.captureGroupCount(), 0u);
    }
    EXPECT_FALSE(Regex(broken).search("("));
}

TEST(Regex, WorkLimitTurnsRunawayBacktrackingIntoNoMatch) {
    auto regex = compiled("(a+)+$");
    regex.setWorkLimit(1);
    const std::string hostile = std::string(30, 'a') + "b";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(regex.search(hostile));
    EXPECT_FALSE(regex.firstMatch(hostile).has_value());
    EXPECT_EQ(regex.replaceAll(hostile, "x"), hostile);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // The matcher recovers: ordinary text still matches after a time-out, and copies keep the limit.
    EXPECT_TRUE(regex.search("aaa"));
    Regex copy = regex;
    EXPECT_FALSE(copy.search(hostile));
}

TEST(Regex, MalformedUtf8NeverProducesRangesOutsideTheText) {
    const std::string text = "a\xE2\x82z\xff\xc3";
    auto any = compiled("[^a]+$");
    auto match = any.firstMatch(text);
    ASSERT_TRUE(match.has_value());
    EXPECT_LE(match->whole.begin, match->whole.end);
    EXPECT_EQ(match->whole.end, text.size());
    EXPECT_TRUE(compiled("z").search(text));
    EXPECT_EQ(compiled("z").replaceAll(text, "Z"), "a\xE2\x82Z\xff\xc3");
    EXPECT_TRUE(compiled(Regex::escape(text)).search(text));
}

}  // namespace
}  // namespace tessaril
