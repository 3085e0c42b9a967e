// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped patterns that are matched for their ranges (redirections, raw rules, Command Guard's),
// through the product's Regex and through ICU alone, over a sample of the benchmark corpus and
// hostile variants: every firstMatch (whole match and each group) and every replaceAll must be ICU's,
// and most must be answered without it. Where the lazy DFA finds no match (checked against ICU on the
// same texts by its own differential test), ICU is not asked again: there must be none here either.
#include "core/foundation/LazyDfa.h"
#include "core/foundation/NfaBacktracker.h"
#include "core/foundation/Regex.h"
#include "tests/foundation/ShippedPatternSamples.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace tessaril::testing {
namespace {

// The rules engine's and Command Guard's limit. Where ICU runs out of work the two may differ by
// design: counted apart.
constexpr std::int32_t kWorkLimit = 200;

struct Tally {
    std::size_t patterns = 0;
    std::size_t exact = 0;
    std::size_t comparisons = 0;
    std::size_t answered = 0;
    std::size_t matches = 0;  // found by ICU and compared range by range
    std::size_t icuGaveUp = 0;
    std::size_t foundWhereICUGaveUp = 0;  // the one difference allowed
    std::size_t disagreements = 0;
};

Tally compareMatches(const std::vector<std::string>& patterns, bool caseInsensitive,
                     const std::vector<std::string>& texts, const char* what) {
    Tally tally;
    for (const auto& pattern : patterns) {
        auto icu = Regex::compile(pattern, caseInsensitive);
        if (!icu) continue;
        ++tally.patterns;
        icu->setWorkLimit(kWorkLimit);
        auto product = *icu;
        icu->setFastPathEnabled(false);
        const auto nfa = RegexNfa::parse(pattern, caseInsensitive);
        if (!nfa || !nfa->capturesExact()) continue;
        ++tally.exact;
        const NfaBacktracker backtracker(nfa);
        LazyDfa dfa(nfa);
        for (const auto& text : texts) {
            ++tally.comparisons;
            tally.answered += backtracker.answers(text) ? 1 : 0;
            const auto actual = product.firstMatch(text);
            const auto replaced = product.replaceAll(text, "");
            if (dfa.search(text) == false) {
                if (actual || replaced != text)
                    ADD_FAILURE() << pattern << " on " << text << ": a match, none in the DFA";
                continue;
            }
            const auto expected = icu->firstMatch(text);
            if (icu->lastMatchHitLimit()) {
                ++tally.icuGaveUp;
                tally.foundWhereICUGaveUp += actual ? 1 : 0;
                continue;
            }
            tally.matches += expected ? 1 : 0;
            const bool same = actual.has_value() == expected.has_value() &&
                              (!actual || (actual->whole == expected->whole && actual->groups == expected->groups));
            if (!same || replaced != (expected ? icu->replaceAll(text, "") : text)) {
                ADD_FAILURE() << pattern << " on " << text;
                if (++tally.disagreements >= 5) return tally;
            }
        }
    }
    std::cout << what << ": " << tally.exact << " of " << tally.patterns << " patterns in the subset; "
              << tally.answered << " of " << tally.comparisons << " matches answered without ICU; " << tally.matches
              << " matches compared; ICU gave up on " << tally.icuGaveUp << " (a match was found in "
              << tally.foundWhereICUGaveUp << ")\n";
    EXPECT_EQ(tally.disagreements, 0u);
    return tally;
}

// Few corpus lines are wrapper links, so those are multiplied: query repeated, separators doubled,
// then each variant's case and one character changed.
std::vector<std::string> wrapperVariants(const std::vector<std::string>& patterns,
                                         const std::vector<std::string>& lines) {
    std::vector<std::string> wrappers;
    for (const auto& pattern : patterns) {
        const auto nfa = RegexNfa::parse(pattern, true);
        if (!nfa) continue;
        LazyDfa dfa(nfa);
        for (const auto& line : lines) {
            if (dfa.search(line) != true) continue;
            const auto query = line.find('?');
            wrappers.push_back(line);
            if (query != std::string::npos) wrappers.push_back(line + "&" + line.substr(query + 1));
            std::string doubled;
            for (const char c : line)
                doubled += c == '&' || c == '/' || c == '=' ? std::string(2, c) : std::string(1, c);
            wrappers.push_back(std::move(doubled));
        }
    }
    std::mt19937 random(7);
    addHostileVariants(wrappers, random);
    return wrappers;
}

TEST(NfaBacktrackerDifferential, RedirectionsAndRawRulesOnTheCorpus) {
    const auto rules = shippedLinkRules();
    if (rules.captures.empty()) GTEST_SKIP() << "shipped rule files not found";
    if (corpusSample().lines.empty()) GTEST_SKIP() << "benchmark corpus not found (set TESSARIL_SHARED_DIR)";
    auto lines = corpusSample().lines;
    std::mt19937 random(2024);  // the DFA's differential test checks the same texts
    addHostileVariants(lines, random, 4);
    const auto wrappers = wrapperVariants(rules.captures, corpusSample().lines);
    lines.insert(lines.end(), wrappers.begin(), wrappers.end());
    const auto tally = compareMatches(rules.captures, true, lines, "redirections and raw rules");
    EXPECT_GT(tally.matches, 1000u);
    EXPECT_GT(tally.exact * 10, tally.patterns * 9);
    EXPECT_GT(tally.answered * 10, tally.comparisons * 9);
}

TEST(NfaBacktrackerDifferential, CommandGuardPatternsOnCommandTexts) {
    const auto sample = commandGuardSample();
    if (sample.patterns.empty()) GTEST_SKIP() << "shipped Command Guard rules not found";
    const auto tally = compareMatches(sample.patterns, false, sample.commands, "Command Guard patterns");
    EXPECT_GE(tally.exact, 4u);
}

}  // namespace
}  // namespace tessaril::testing
