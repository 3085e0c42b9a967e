// SPDX-License-Identifier: GPL-3.0-or-later
// Every shipped pattern, compiled as the product compiles it, through the lazy DFA and through ICU
// alone, over a sample of the benchmark corpus and generated hostile texts: wherever the DFA
// answers, it must give ICU's answer, and it must answer most of the time.
#include "core/foundation/LazyDfa.h"
#include "core/foundation/Regex.h"
#include "tests/foundation/ShippedPatternSamples.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace tessaril::testing {
namespace {

// The rules engine's limit. Where ICU runs out of work the two may differ by design: counted apart.
constexpr std::int32_t kWorkLimit = 200;

struct Tally {
    std::size_t patterns = 0;
    std::size_t supported = 0;
    std::size_t comparisons = 0;
    std::size_t decided = 0;
    std::size_t icuGaveUp = 0;
    std::size_t foundWhereICUGaveUp = 0;  // the one difference allowed
    std::size_t disagreements = 0;
};

// One DFA per pattern over all texts, as a loaded rule keeps its Regex; the product's
// Regex::search (DFA, then ICU) is compared too.
Tally compareAll(const std::vector<std::string>& patterns, bool caseInsensitive, const std::vector<std::string>& texts,
                 const char* what) {
    Tally tally;
    for (const auto& pattern : patterns) {
        auto icu = Regex::compile(pattern, caseInsensitive);
        if (!icu) continue;  // the product drops it too
        ++tally.patterns;
        auto product = *icu;
        icu->setFastPathEnabled(false);
        for (auto* regex : {&*icu, &product})
            regex->setWorkLimit(kWorkLimit);
        const auto nfa = RegexNfa::parse(pattern, caseInsensitive);
        if (!nfa) continue;
        ++tally.supported;
        LazyDfa dfa(nfa);
        for (const auto& text : texts) {
            ++tally.comparisons;
            const bool expected = icu->search(text);
            const auto answer = dfa.search(text);
            const bool viaRegex = product.search(text);
            tally.decided += answer ? 1 : 0;
            if (icu->lastMatchHitLimit()) {
                ++tally.icuGaveUp;
                tally.foundWhereICUGaveUp += viaRegex != expected ? 1 : 0;
            } else if ((answer && *answer != expected) || viaRegex != expected) {
                ADD_FAILURE() << pattern << " on " << text << ": ICU " << expected << ", DFA "
                              << (answer ? std::to_string(*answer) : "undecided") << ", Regex " << viaRegex;
                if (++tally.disagreements >= 5) return tally;
            }
        }
    }
    std::cout << what << ": " << tally.supported << " of " << tally.patterns << " patterns supported; " << tally.decided
              << " of " << tally.comparisons << " searches decided by the DFA; ICU gave up on " << tally.icuGaveUp
              << " (the DFA found a match in " << tally.foundWhereICUGaveUp << ")\n";
    EXPECT_EQ(tally.disagreements, 0u);
    return tally;
}

void expectMostlyDecided(const Tally& tally) {
    EXPECT_GT(tally.supported * 10, tally.patterns * 9);
    EXPECT_GT(tally.decided * 10, tally.comparisons * 9);
}

class LazyDfaDifferentialTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (rules_.links.empty()) GTEST_SKIP() << "shipped rule files not found";
        if (corpusSample().lines.empty()) GTEST_SKIP() << "benchmark corpus not found (set TESSARIL_SHARED_DIR)";
    }
    Patterns rules_ = shippedLinkRules();
    std::mt19937 random_{2024};
};

// On links as people copy them, ICU runs out of work only where nothing matches (".*u=..." on links
// of several kilobytes), so even there the product's answers stay the same.
TEST_F(LazyDfaDifferentialTest, LinkPatternsOnTheCorpus) {
    auto lines = corpusSample().lines;
    addHostileVariants(lines, random_, 4);
    const auto tally = compareAll(rules_.links, true, lines, "link patterns, corpus");
    expectMostlyDecided(tally);
    EXPECT_EQ(tally.foundWhereICUGaveUp, 0u);
    EXPECT_GT(tally.comparisons, 1000000u);
}

TEST_F(LazyDfaDifferentialTest, LinkPatternsOnLongRuns) {
    std::vector<std::string> runs;
    for (const std::size_t n : {5U, 60U, 300U}) {
        for (const std::string unit : {"a.", "co.", "a/", "&ref", "utm_source=x&", "%3F"}) {
            std::string run;
            for (std::size_t i = 0; i < n; ++i)
                run += unit;
            runs.push_back("https://" + run + "amazon.c");
            runs.push_back("HTTPS://www.google." + run + "/x/-/refs/switch?" + run);
            runs.push_back(run + "\303\251" + run);
        }
    }
    expectMostlyDecided(compareAll(rules_.links, true, runs, "link patterns, long runs"));
}

TEST_F(LazyDfaDifferentialTest, NamePatternsOnTheCorpusNames) {
    auto names = corpusSample().names;
    names.insert(names.end(), {"", "%3F", "%3Futm", "UTM_SOURCE_", "ref_", "p_rd_x"});
    addHostileVariants(names, random_, 2);
    const auto tally = compareAll(rules_.names, true, names, "name patterns");
    expectMostlyDecided(tally);
    EXPECT_EQ(tally.icuGaveUp, 0u);
    EXPECT_GT(tally.comparisons, 1000000u);
}

// Command Guard compiles its patterns case-sensitively, with their own inline flags. Few are in the
// subset (most use \b or look-around); those must agree on commands and prose.
TEST(LazyDfaCommandGuardDifferential, ShippedPatternsOnCommandTexts) {
    const auto sample = commandGuardSample();
    if (sample.patterns.empty()) GTEST_SKIP() << "shipped Command Guard rules not found";
    const auto tally = compareAll(sample.patterns, false, sample.commands, "Command Guard patterns");
    EXPECT_GE(tally.supported, 4u);
    EXPECT_GT(tally.decided * 10, tally.comparisons * 9);
}

}  // namespace
}  // namespace tessaril::testing
