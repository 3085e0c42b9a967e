// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/guard/CommandGuard.h"
#include "tests/guard/GuardTestSupport.h"
#include "tests/sweeps/SweepSample.h"

namespace tessaril {
namespace {

// Hostile clipboard texts for one pattern: runs, as long as the guard examines, of every character
// and every word the pattern names, alone, with separators and with option-like and path-like
// neighbours. A rule that backtracks badly meets its worst case in one of these.
std::vector<std::string> adversarialInputs(const std::string& pattern) {
    std::set<std::string> units = {" ",   "a",  "-", "/", "\\", "'",    "\"",   "|",   "$(",
                                   "`",   "^",  "0", ".", "a-", "- ",   "a ",   "-a ", "\n",
                                   "a\n", "# ", ":", "%", "=",  "x\\x", "a@b ", "1.",  "\xD0\xB0"};
    std::string word;
    std::string allWords;
    for (const char c : pattern + " ") {
        if (c >= 0x21 && c < 0x7F) units.insert(std::string(1, c));
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.') {
            word += c;
            continue;
        }
        if (word.size() >= 2) {
            units.insert({word, word + " ", word + " -a "});
            allWords += word + " ";
        }
        word.clear();
    }
    units.insert(allWords);
    std::vector<std::string> inputs;
    for (const auto& unit : units) {
        std::string input;
        while (!unit.empty() && input.size() < CommandGuard::maximumCommandBytes)
            input += unit;
        input.resize(CommandGuard::maximumCommandBytes);
        inputs.push_back(input);
    }
    return inputs;
}

TEST(RuleWorkLimit, NoShippedPatternRunsOutOfWorkOnHostileText) {
    const auto guard = testing::shippedGuard();
    ASSERT_FALSE(guard.rules().empty());
    constexpr std::size_t kStride = testing::sweepStride(8);
    std::size_t ruleIndex = 0;
    for (const auto& rule : guard.rules()) {
        // What the guard searches: the whole pattern, and its alternatives one by one.
        std::vector<Regex> searched = {rule.regex};
        for (const auto& alternative : rule.alternatives) {
            if (alternative.regex) searched.push_back(*alternative.regex);
        }
        // In debug and sanitizer builds each rule meets one input in kStride, a different one per rule.
        const auto inputs = adversarialInputs(rule.definition.pattern);
        for (std::size_t i = ruleIndex++ % kStride; i < inputs.size(); i += kStride) {
            const std::string& input = inputs[i];
            for (Regex& regex : searched) {
                (void)regex.firstMatch(input);
                EXPECT_FALSE(regex.lastMatchHitLimit())
                    << rule.definition.id << " ran out of work on a run of \"" << input.substr(0, 24) << "...\"";
            }
        }
    }
}

}  // namespace
}  // namespace tessaril
