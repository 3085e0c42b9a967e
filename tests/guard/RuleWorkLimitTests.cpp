// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/guard/CommandGuard.h"
#include "tests/guard/GuardTestSupport.h"

#include <set>
#include <string>
#include <vector>

namespace tessaril {
namespace {

std::string repeatTo(const std::string& unit, std::size_t size) {
    std::string out;
    if (unit.empty()) return out;
    out.reserve(size + unit.size());
    while (out.size() < size)
        out += unit;
    out.resize(size);
    return out;
}

// Hostile clipboard texts for one pattern: long runs of every character and every word the pattern
// names, alone, with separators and with option-like and path-like neighbours. A rule that
// backtracks badly meets its worst case in one of these.
std::vector<std::string> adversarialInputs(const std::string& pattern) {
    constexpr std::size_t size = CommandGuard::maximumCommandBytes;
    std::set<std::string> units = {" ",   "a",  "-", "/", "\\", "'",    "\"",   "|",   "$(",
                                   "`",   "^",  "0", ".", "a-", "- ",   "a ",   "-a ", "\n",
                                   "a\n", "# ", ":", "%", "=",  "x\\x", "a@b ", "1.",  "\xD0\xB0"};
    std::string word;
    std::vector<std::string> words;
    for (char c : pattern) {
        if (static_cast<unsigned char>(c) >= 0x21 && static_cast<unsigned char>(c) < 0x7F)
            units.insert(std::string(1, c));
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.') {
            word += c;
            continue;
        }
        if (word.size() >= 2) words.push_back(word);
        word.clear();
    }
    if (word.size() >= 2) words.push_back(word);
    std::string allWords;
    for (const auto& w : words) {
        units.insert(w);
        units.insert(w + " ");
        units.insert(w + " -a ");
        allWords += w + " ";
    }
    units.insert(allWords);
    std::vector<std::string> inputs;
    inputs.reserve(units.size());
    for (const auto& unit : units)
        inputs.push_back(repeatTo(unit, size));
    return inputs;
}

TEST(RuleWorkLimit, NoShippedPatternRunsOutOfWorkOnHostileText) {
    const auto guard = testing::shippedGuard();
    ASSERT_FALSE(guard.rules().empty());
    for (const auto& rule : guard.rules()) {
        Regex regex = rule.regex;
        for (const auto& input : adversarialInputs(rule.definition.pattern)) {
            (void)regex.search(input);
            EXPECT_FALSE(regex.lastMatchHitLimit())
                << rule.definition.id << " ran out of work on a run of \"" << input.substr(0, 24) << "...\"";
        }
    }
}

TEST(RuleWorkLimit, CatastrophicPatternIsStoppedAndReported) {
    // "\z" keeps the pattern with ICU, as look-around and "\b" keep most of Command Guard's: the
    // linear-time paths would answer "^(a+)+$" without backtracking at all.
    auto regex = Regex::compile("^(a+)+\\z");
    ASSERT_TRUE(regex.has_value());
    regex->setWorkLimit(CommandGuard::matchWorkLimit);
    const std::string hostile = std::string(40, 'a') + "!";
    // firstMatch, as Command Guard calls it.
    EXPECT_FALSE(regex->firstMatch(hostile).has_value());
    EXPECT_TRUE(regex->lastMatchHitLimit());
    EXPECT_TRUE(regex->firstMatch("aaaa").has_value());
    EXPECT_FALSE(regex->lastMatchHitLimit());
}

}  // namespace
}  // namespace tessaril
