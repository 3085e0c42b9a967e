// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Regex.h"

#include <gtest/gtest.h>

#include <string>

namespace tessaril {
namespace {

Regex compiled(std::string_view pattern, bool caseInsensitive = false) {
    auto regex = Regex::compile(pattern, caseInsensitive);
    EXPECT_TRUE(regex.has_value()) << pattern;
    return regex ? *regex : *Regex::compile("");
}

TEST(Regex, RangesAreUtf8ByteOffsets) {
    // "é" is two bytes, "日本" six, "🙂" four: any UTF-16 leak would shift the offsets, in the text
    // itself or in its prepared UTF-16 copy (that both give the same ranges on any bytes is
    // fuzz/LazyDfaFuzzer.cpp's).
    const std::string text = "é日本🙂 id=42&x";
    auto regex = compiled(R"((?<!q)id=(\d+)(&)?(z)?)");
    for (const auto& match : {regex.firstMatch(text), regex.firstMatch(SearchText(text))}) {
        ASSERT_TRUE(match.has_value());
        EXPECT_EQ(match->whole, (TextRange{13, 19}));
        EXPECT_EQ(match->groups[0], (TextRange{16, 18}));
        EXPECT_EQ(match->groups[1], (TextRange{18, 19}));
        EXPECT_FALSE(match->groups[2].has_value());  // did not take part
    }
    const std::string malformed =
        "a\xE2\x82z\xff\xc3\xF0\x9F\x99\x82"
        "b";
    EXPECT_EQ(compiled("(?<!q)b").firstMatch(SearchText(malformed))->whole, (TextRange{10, 11}));
    // A group that matched the empty string is present, unlike one that did not take part.
    EXPECT_EQ(compiled("x(a*)y").firstMatch("🙂xy")->groups[0], (TextRange{5, 5}));
}

TEST(Regex, RejectsBadPatternsAndAcceptsTheEmptyOneAndUnicode) {
    for (std::string_view bad : {"(", "[a-", "a{2,1}", "*a", "(?<name", "\\", "a)", "\xff\xfe"})
        EXPECT_FALSE(Regex::compile(bad).has_value()) << bad;
    EXPECT_EQ(compiled("").firstMatch("abc")->whole, (TextRange{0, 0}));
    // Case folding is Unicode-aware, not ASCII-only.
    EXPECT_TRUE(compiled("ÉTÉ", true).search("un été"));
}

TEST(Regex, EscapedLiteralMatchesOnlyItself) {
    for (const std::string literal :
         {R"(a.b*c+d?e(f)[g]{h}^$|\)", R"(\E\Q\E.*)", "tab\tnew\nline space#comment", "naïve 日本 🙂", "\\", ""}) {
        auto regex = compiled("^" + Regex::escape(literal) + "$");
        EXPECT_TRUE(regex.search(literal)) << literal;
        // Nothing the metacharacters could have meant as a pattern may match too.
        EXPECT_FALSE(regex.search(literal + "x")) << literal;
    }
    EXPECT_FALSE(compiled(Regex::escape("a.c")).search("abc"));
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

// Copies share the compiled pattern but not the matcher nor the fast paths' caches, whether made
// before or after either was used; a deferred pattern compiles on first use, and one that fails to
// then matches nothing.
TEST(Regex, CopiesAndDeferredPatternsAnswerThroughTheirOwnMatcher) {
    for (const char* pattern : {"(b+)", "(b+)(?!b)"}) {  // with and without the automaton
        auto original = compiled(pattern);
        EXPECT_EQ(original.firstMatch("abbbc")->groups[0], (TextRange{1, 4}));
        EXPECT_TRUE(original.search("b"));
        Regex copy = original;  // after the original has built its caches
        EXPECT_EQ(copy.firstMatch("xb")->groups[0], (TextRange{1, 2}));
        EXPECT_FALSE(copy.search("zzz"));
        EXPECT_TRUE(original.search("b"));
        Regex assigned = compiled("zzz");
        assigned = original;
        Regex moved = std::move(assigned);
        EXPECT_TRUE(moved.search("abc"));
    }
    Regex deferred = Regex::deferred("^(?:utm_)?(source)$", true);
    Regex copy = deferred;  // copied before either has compiled
    EXPECT_TRUE(deferred.search("UTM_Source"));
    EXPECT_FALSE(copy.search("utm_sources"));
    EXPECT_EQ(copy.captureGroupCount(), 1u);
    EXPECT_EQ(copy.firstMatch("source")->groups[0], (TextRange{0, 6}));
    EXPECT_FALSE(copy.search("utm_\303\251"));  // ICU's answer, ICU compiled only now
    Regex broken = Regex::deferred("(", false);
    for (const Regex& regex : {broken, Regex(broken)}) {
        EXPECT_FALSE(regex.search("("));
        EXPECT_FALSE(regex.firstMatch("(").has_value());
        EXPECT_EQ(regex.replaceAll("((", "x"), "((");
        EXPECT_EQ(regex.captureGroupCount(), 0u);
    }
}

TEST(Regex, MalformedUtf8NeverProducesRangesOutsideTheText) {
    const std::string text = "a\xE2\x82z\xff\xc3";
    auto match = compiled("[^a]+$").firstMatch(text);
    ASSERT_TRUE(match.has_value());
    EXPECT_EQ(match->whole, (TextRange{1, text.size()}));
    EXPECT_EQ(compiled("z").replaceAll(text, "Z"), "a\xE2\x82Z\xff\xc3");
    EXPECT_TRUE(compiled(Regex::escape(text)).search(text));
}

}  // namespace
}  // namespace tessaril
