// SPDX-License-Identifier: GPL-3.0-or-later
// The lazy DFA against ICU where it is easy to be subtly wrong: case folding of classes, anchors
// inside alternations, counted repetition, the bytes and the patterns it must leave to ICU.
#include "core/foundation/LazyDfa.h"
#include "core/foundation/Regex.h"
#include "tests/foundation/RegexReference.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

namespace tessaril {
namespace {

using testing::icuOnly;
using testing::randomPattern;
using testing::randomText;

LazyDfa dfaFor(const std::string& pattern, bool caseInsensitive = false, std::size_t stateLimit = 256) {
    auto nfa = RegexNfa::parse(pattern, caseInsensitive);
    EXPECT_NE(nfa, nullptr) << pattern;
    return LazyDfa(nfa ? nfa : RegexNfa::parse("(?!)", false), stateLimit);
}

const std::string kPrintable = [] {
    std::string all;
    for (char c = ' '; c < 0x7F; ++c)
        all += c;
    return all;
}();

TEST(LazyDfa, AnswersTheRulesIdiomsAsICUDoes) {
    const struct {
        const char* pattern;
        const char* text;
        bool matches;
    } cases[] = {
        {"(?i)utm_source", "a?UTM_Source=x", true},
        {"utm_source", "a?UTM_Source=x", false},
        {"(?i)^[^a-z]$", "A", false},  // ICU closes a class over case before negating it
        {"^[^a-z]$", "A", true},
        {"(?i)^[^a-z%0-9]adId$", "_ADID", true},
        {"^a|b$", "xb", true},
        {"(?:^|/)x", "a/x", true},
        {"$^", "", true},
        {"^(?:a|){3}b$", "aaaab", false},
        {"^(?:[a-z]{2,}\\.){1,}x$", "ab.c.x", false},
        {"\\[\\]\\{\\}\\(\\)\\|\\^\\$\\*\\+\\?\\\\", "[]{}()|^$*+?\\", true},
        {"(?i)^https?:\\/\\/(?:[a-z0-9-]+\\.)*?amazon(?:\\.[a-z]{2,}){1,}", "HTTPS://WWW.AMAZON.CO.UK/dp/1", true},
        {"(?i)^https?:\\/\\/(?:[a-z0-9-]+\\.)*?amazon(?:\\.[a-z]{2,}){1,}", "https://evilamazon.com/", false},
        {"(?i)^(?:%3F)?utm(?:_[a-z_]*)?$", "%3fUTM_Source", true},
        {"(?i)^https?:\\/\\/[^/]+/[^/]+/[^/]+\\/-\\/refs\\/switch[^?]*\\?.*?&?ref_?=.",
         "http://g.l/a/b/-/refs/switch?REF=y", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(icuOnly(c.pattern).search(c.text), c.matches) << c.pattern << " on " << c.text;
        EXPECT_EQ(dfaFor(c.pattern).search(c.text), std::optional<bool>(c.matches)) << c.pattern << " on " << c.text;
    }
}

// Each class form, shorthand and escaped punctuation mark against every printable character.
TEST(LazyDfa, ClassesHoldTheSameCharactersAsICUs) {
    std::vector<std::string> atoms = {
        ".",       "\\d",       "\\D",     "\\w",    "\\W",       "\\s",        "\\S",           "[^A-Z]",
        "[Z-a]",   "[^Z-a]",    "[!-/]",   "[\\w-]", "[^\\w]",    "[^\\W]",     "[\\s\\d]",      "[^/?&]",
        "[_a-z]",  "[^\\d.]",   "[^s]",    "[a-]",   "[-a]",      "[a&b]",      "[ ]",           "[@-\\[]",
        "[a-c-e]", "[\\d-a-c]", "[!-&-9]", "[-]",    "[a-z%0-9]", "[^a-z%0-9]", "[$.*{}()|?+^]", "[a-z0-9-\\.]"};
    for (const char c : kPrintable) {
        if (c == ' ' || std::isalnum(static_cast<unsigned char>(c))) continue;
        atoms.push_back(std::string("\\") + c);
        atoms.push_back(std::string("[\\") + c + "]");
        if (std::string("\\[]^-").find(c) == std::string::npos) atoms.push_back(std::string("[") + c + "]");
    }
    for (const auto& atom : atoms) {
        for (const bool caseInsensitive : {false, true}) {
            auto dfa = dfaFor("^" + atom + "$", caseInsensitive);
            auto icu = icuOnly("^" + atom + "$", caseInsensitive);
            for (const char c : kPrintable) {
                ASSERT_EQ(dfa.search({&c, 1}), std::optional<bool>(icu.search({&c, 1})))
                    << atom << (caseInsensitive ? " (i) on " : " on ") << c;
            }
        }
    }
}

TEST(LazyDfa, LeavesTextOutsidePrintableASCIIToICUUnlessDecidedBefore) {
    const struct {
        const char* pattern;
        std::string text;
        std::optional<bool> answer;
    } cases[] = {
        {"^abc", "abc\303\251", true},        // matched before the first non-ASCII byte
        {"^abd", "abc\303\251", false},       // every attempt failed before it
        {".*", "\377", true},                 // an empty match at offset 0
        {"abc$", "abc\n", std::nullopt},      // ICU's "$" also matches before a final line break
        {"$[^a]", "\n", std::nullopt},        // which what follows the "$" may then consume
        {"a.c", "a\nc", std::nullopt},        // and its "." excludes line breaks
        {"b", "a\377b", std::nullopt},        // the search goes on past the byte
        {"^[^a]", "\303\251", std::nullopt},  // the very first byte decides
        {"y", std::string("x\0y", 3), std::nullopt},
        {"a", "\177a", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dfaFor(c.pattern).search(c.text), c.answer) << c.pattern;
        if (c.answer) {
            EXPECT_EQ(icuOnly(c.pattern).search(c.text), *c.answer) << c.pattern;
        }
    }
}

TEST(LazyDfa, DeclinesWhatItDoesNotModel) {
    const char* const declined[] = {"a*+",    "a?+",         "a{2}+",    "a**",        "a{2}{3}",     "^*",
                                    "(?>a)",  "(?=a)",       "(?<!a)b",  "(a)\\1",     "\\b",         "\\Qa\\E",
                                    "\\x41",  "\\p{L}",      "\\n",      "\\z",        "\\Z",         "\\0",
                                    "\\ ",    "(?<n>a)",     "(?m)^a",   "(?x)a",      "(?s).",       "a(?i)b",
                                    "(?i:a)", "(?#note)a",   "\303\251", "[\303\251]", "a\tb",        "[a-z&&[aeiou]]",
                                    "[a--b]", "[a-c--]",     "[a&-9]",   "[(--]",      "[[:alpha:]]", "[a[b]]",
                                    "[]a]",   "[a-\\d]",     "[b-a]",    "a{2,1}",     "a{,2}",       "a{1001}",
                                    "a{257}", "(?:ab){129}", "(",        "a)",         "[a",          "\\",
                                    "*a",     "{",           "}",        "]",          "(?i)(?i)a"};
    for (const char* pattern : declined)
        EXPECT_EQ(RegexNfa::parse(pattern, true), nullptr) << pattern;
    EXPECT_EQ(RegexNfa::parse(std::string(70, '(') + std::string(70, ')'), false), nullptr);
    EXPECT_NE(RegexNfa::parse("a{256}", false), nullptr);
}

TEST(LazyDfa, AgreesWithICUOnRandomExpressions) {
    std::mt19937 random(42);
    int supported = 0;
    int icuGaveUp = 0;
    for (int round = 0; round < 400; ++round) {
        const std::string pattern = randomPattern(random, 0);
        const bool caseInsensitive = random() % 2 == 0;
        const auto nfa = RegexNfa::parse(pattern, caseInsensitive);
        if (!nfa) continue;  // a quantified group holding only anchors
        ++supported;
        LazyDfa dfa(nfa);
        auto icu = icuOnly(pattern, caseInsensitive);
        for (int t = 0; t < 12; ++t) {
            const std::string text = randomText(random);
            const bool expected = icu.search(text);
            // "(?:a|^)*?b" on "aa", for one: ICU loops until its work limit stops it.
            icuGaveUp += icu.lastMatchHitLimit() ? 1 : 0;
            if (!icu.lastMatchHitLimit()) {
                ASSERT_EQ(dfa.search(text), std::optional<bool>(expected))
                    << pattern << (caseInsensitive ? " (i) on " : " on ") << text;
            }
        }
    }
    EXPECT_GT(supported, 300);
    EXPECT_LT(icuGaveUp, 100);
}

// Texts that begin with the same eight bytes resume from the state those led to: random
// expressions on texts drawn from two beginnings, the shortest of them exactly eight bytes, under a
// roomy cache and under one so small that it is dropped all the time.
TEST(LazyDfa, ResumesTextsWithTheSameBeginningExactly) {
    std::mt19937 random(5);
    const std::string beginnings[] = {"aAb-Bab-", "ab-ab-ab"};
    for (int round = 0; round < 300; ++round) {
        const std::string pattern = randomPattern(random, 0);
        const bool caseInsensitive = random() % 2 == 0;
        const auto nfa = RegexNfa::parse(pattern, caseInsensitive);
        if (!nfa) continue;
        LazyDfa dfa(nfa);
        LazyDfa cramped(nfa, 2);
        auto icu = icuOnly(pattern, caseInsensitive);
        icu.setWorkLimit(10);  // the few expressions that send ICU into a loop are skipped sooner
        for (int t = 0; t < 12; ++t) {
            std::string text = beginnings[random() % 2];
            if (t % 3 != 0) text += randomText(random);
            const bool expected = icu.search(text);
            if (icu.lastMatchHitLimit()) continue;
            ASSERT_EQ(dfa.search(text), std::optional<bool>(expected)) << pattern << " on " << text;
            ASSERT_EQ(cramped.search(text), std::optional<bool>(expected)) << pattern << " on " << text;
        }
    }
}

// Hundreds of states under a cache of eight: answers stay exact while the cache is dropped and
// rebuilt over and over, and it never grows past its limit.
TEST(LazyDfa, StaysExactAndBoundedWhenTheCacheOverflows) {
    const std::string pattern = "(?:a|b)*a(?:a|b){7}c";
    auto cramped = dfaFor(pattern, false, 8);
    auto icu = icuOnly(pattern);
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (auto length = random() % 40; length > 0; --length)
            text += "abbc"[random() % 4];
        ASSERT_EQ(cramped.search(text), std::optional<bool>(icu.search(text))) << text;
        ASSERT_LE(cramped.stateCount(), 8u);
    }
    EXPECT_GT(cramped.flushCount(), 0u);
}

TEST(RegexFastPath, CopiesAndDeferredPatternsAnswerThroughTheirOwnCache) {
    auto original = *Regex::compile("^(?:%3F)?utm(?:_[a-z_]*)?$", true);
    EXPECT_TRUE(original.search("UTM_medium"));
    Regex copy = original;  // after the original has built states
    EXPECT_FALSE(copy.search("utm-medium"));
    EXPECT_TRUE(original.search("utm"));
    EXPECT_FALSE(copy.search("utm_\303\251"));  // ICU's answer
    EXPECT_TRUE(Regex::compile("^utm_.$", true)->search("utm_\303\251"));

    Regex deferred = Regex::deferred("^(?:utm_)?(source)$", true);
    Regex deferredCopy = deferred;
    EXPECT_TRUE(deferred.search("UTM_Source"));
    EXPECT_FALSE(deferredCopy.search("utm_sources"));
    EXPECT_EQ(deferredCopy.firstMatch("source")->groups[0], (TextRange{0, 6}));
}

TEST(RegexFastPath, NeverGivesUpWhereICUWouldAndClearsTheLimitFlag) {
    // ICU backtracks exponentially on the first branch at offset 0 and gives up before it tries the
    // second; the DFA finds the "b" at the end.
    auto regex = *Regex::compile("(?:a+)+c|b");
    regex.setWorkLimit(1);
    Regex slow = regex;
    slow.setFastPathEnabled(false);
    const std::string hostile = std::string(40, 'a') + "!b";
    EXPECT_FALSE(slow.search(hostile));
    EXPECT_TRUE(slow.lastMatchHitLimit());
    EXPECT_TRUE(regex.search(hostile));
    EXPECT_FALSE(regex.lastMatchHitLimit());
    // Where the DFA cannot answer, ICU's limit still applies and is reported, until the next answer.
    EXPECT_FALSE(regex.search(std::string(40, 'a') + "!\303\251"));
    EXPECT_TRUE(regex.lastMatchHitLimit());
    EXPECT_FALSE(regex.search("zzz"));
    EXPECT_FALSE(regex.lastMatchHitLimit());
}

}  // namespace
}  // namespace tessaril
