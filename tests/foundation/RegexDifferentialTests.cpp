// SPDX-License-Identifier: GPL-3.0-or-later
// The regex fast paths (the lazy DFA for search, the backtracker for ranges) against ICU alone, on
// every shipped pattern over a sample of the benchmark corpus and hostile variants of it. Arbitrary
// patterns and texts, each class form among them, are fuzz/LazyDfaFuzzer.cpp's, which checks the same
// answers, so which texts the fast paths leave to ICU needs no list of its own. By hand only what a
// comparison cannot judge: the syntax they decline, empty iterations, and the limits.
#include "core/foundation/LazyDfa.h"
#include "core/foundation/NfaBacktracker.h"
#include "core/foundation/Regex.h"
#include "core/foundation/RulePrefilter.h"
#include "tests/support/Fixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tessaril {
namespace {

std::string describe(const std::optional<RegexMatch>& match) {
    if (!match) return "no match";
    std::string out = std::to_string(match->whole.begin) + "-" + std::to_string(match->whole.end);
    for (const auto& group : match->groups)
        out += group ? " " + std::to_string(group->begin) + "-" + std::to_string(group->end) : " -";
    return out;
}

// Which fast paths answered: both, the DFA's search alone, or neither (ICU did).
enum class Fast { both, search, none };

// A pattern as the product compiles it, beside ICU alone (as Regex answered before its fast paths
// existed), its literal prefilter and the fast paths: a DFA with a roomy cache and the backtracker
// (a cache too small to keep states is the fuzzer's). All are kept across texts, as a
// loaded rule keeps its Regex, so that texts that begin alike resume a cached state. The work limit
// is the rules engine's and Command Guard's: where ICU runs out of it, the fast paths may find a
// match by design.
struct Subject {
    Subject(const std::string& pattern, bool caseInsensitive)
        : pattern(pattern),
          nfa(RegexNfa::parse(pattern, caseInsensitive)),
          product(*Regex::compile(pattern, caseInsensitive)),
          icu(product),
          prefilter(RulePrefilter::fromPattern(pattern, caseInsensitive)) {
        icu.setFastPathEnabled(false);
        for (auto* regex : {&product, &icu})
            regex->setWorkLimit(200);
        if (!nfa) return;
        dfa.emplace(nfa);
        backtracker.emplace(nfa);
    }

    // Every answer given is ICU's: the product's search, and with `ranges` its firstMatch and
    // replaceAll; the prefilter lets every text through that the pattern matches. Nothing when ICU
    // runs out of work, where nothing more is asked of it.
    std::optional<Fast> check(const std::string& text, bool ranges = true) {
        const bool expected = icu.search(text);
        if (icu.lastMatchHitLimit()) return std::nullopt;
        EXPECT_EQ(product.search(text), expected) << pattern << " on " << text;
        EXPECT_TRUE(!expected || prefilter.mayMatch(text, RulePrefilter::foldForMatching(text)))
            << pattern << " on " << text;
        const auto answer = dfa ? dfa->search(text) : std::nullopt;
        EXPECT_EQ(answer.value_or(expected), expected) << pattern << " on " << text;
        if (ranges) {
            EXPECT_EQ(describe(product.firstMatch(text)), expected ? describe(icu.firstMatch(text)) : "no match")
                << pattern << " on " << text;
            if (expected) {
                EXPECT_EQ(product.replaceAll(text, "<>"), icu.replaceAll(text, "<>")) << pattern << " on " << text;
            }
        }
        if (!answer) return Fast::none;
        return ranges && nfa->capturesExact() && backtracker->answers(text) ? Fast::both : Fast::search;
    }

    std::string pattern;
    std::shared_ptr<const RegexNfa> nfa;
    Regex product;
    Regex icu;
    RulePrefilter prefilter;
    std::optional<LazyDfa> dfa;
    std::optional<NfaBacktracker> backtracker;
};

// Which texts the fast paths leave to ICU is the comparisons' to judge (here and in the fuzzer). By
// hand: empty iterations, which ICU stops and an automaton cannot, leave ranges to ICU; syntax that
// changes what matches in ways no shipped pattern shows is declined; and the limits.
TEST(RegexDifferential, FastPathsKeepTheirLimits) {
    const char* const nullable[][2] = {{"^(?:a|){3}b$", "aaaab"}, {"(a|)+b", "aab"},   {"(a*)*", "aab"},
                                       {"(?:x|$)*", "xx"},        {"(?:()|a)+", "aa"}, {"(a?)+?b", "ab"}};
    for (const auto& [pattern, text] : nullable)
        EXPECT_EQ(Subject(pattern, false).check(text), Fast::search) << pattern;
    for (const char* pattern : {"a*+", "a{2}+", "(?>a)", "(?=a)", "(?<!a)b", "(a)\\1", "\\b", "a(?i)b", "(?m)^a",
                                "(?s).", "\\p{L}", "[a-z&&[aeiou]]", "[a--b]", "a{257}", "a{1001}", "(?:ab){129}"})
        EXPECT_EQ(RegexNfa::parse(pattern, true), nullptr) << pattern;
    EXPECT_EQ(RegexNfa::parse(std::string(65, '(') + std::string(65, ')'), false), nullptr);
    for (const auto& pattern :
         {std::string(64, '(') + std::string(64, ')'), std::string("a{256}"), std::string("a{0000001}")})
        EXPECT_NE(RegexNfa::parse(pattern, false), nullptr) << pattern;

    // The backtracker marks one bit per (node, offset) and stops at its budget.
    Subject any("(.)+$", false);
    const std::string huge(NfaBacktracker::visitBudget, 'a');
    EXPECT_TRUE(any.backtracker->answers(huge.substr(1)));
    EXPECT_FALSE(any.backtracker->answers(huge));
    EXPECT_EQ(describe(any.product.firstMatch(huge)), describe(any.icu.firstMatch(huge)));
}

// Linear time where ICU backtracks exponentially: answered, and not reported as cut short. Where the
// fast paths cannot answer, ICU, compiled only then, keeps the limit set before: running out of work
// is no match (nothing replaced) and reported, until the next answer.
TEST(RegexDifferential, FastPathsNeverGiveUpAndClearTheLimitFlag) {
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

// A variant of every `stride`th short text: about a third of the letters upper-cased, then one
// character dropped, doubled or replaced. Long texts are left alone: ICU's time on them grows with
// the square of their length for the many patterns that start with ".*".
void addHostileVariants(std::vector<std::string>& texts, std::size_t stride) {
    std::mt19937 random(2024);
    for (std::size_t i = 0, count = texts.size(); i < count; i += stride) {
        if (texts[i].empty() || texts[i].size() > 300) continue;
        std::string edited = texts[i];
        for (char& c : edited)
            c = random() % 3 == 0 ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        const auto at = random() % edited.size();
        const auto edit = random() % 3;
        if (edit == 0) edited.erase(at, 1);
        if (edit == 1) edited.insert(at, 1, edited[at]);
        if (edit == 2) edited[at] = static_cast<char>(' ' + random() % 95);
        texts.push_back(std::move(edited));
    }
}

// The shipped patterns as the product compiles them, each with whether it is matched for its
// ranges too (redirections, raw rules, Command Guard's), and the texts they are checked on.
struct Sample {
    const char* what;
    bool caseInsensitive = true;
    std::vector<std::pair<std::string, bool>> patterns{};
    std::vector<std::string> texts{};
};

std::vector<Sample> shippedSamples() {
    const std::string bundle = TESSARIL_SHIPPED_BUNDLE_DIR "/";
    std::vector<Sample> samples = {{"link patterns"}, {"name patterns"}, {"Command Guard patterns", false}};
    for (const char* file : {"data.min.json", "tessaril-supplementary.json"}) {
        const auto rules = nlohmann::json::parse(testing::readFile(bundle + file));
        for (const auto& [name, provider] : rules["providers"].items()) {
            samples[0].patterns.emplace_back(provider["urlPattern"], false);
            for (const char* key : {"exceptions", "rawRules", "redirections"}) {
                for (const std::string pattern : provider.value(key, nlohmann::json::array()))
                    samples[0].patterns.emplace_back(pattern, std::string_view(key) != "exceptions");
            }
            for (const char* key : {"rules", "referralMarketing"}) {
                for (const std::string pattern : provider.value(key, nlohmann::json::array()))
                    samples[1].patterns.emplace_back("^" + pattern + "$", false);
            }
        }
    }
    const auto guard = nlohmann::json::parse(testing::readFile(bundle + "command-guard-rules.json"));
    for (const auto& rule : guard["rules"])
        samples[2].patterns.emplace_back(rule["pattern"], true);
    // Every 100th corpus line and the parameter names in them, runs long enough for ICU to give up
    // on, and Command Guard's fuzzer seeds that are command texts (first byte 0-2, then the text).
    const char* shared = std::getenv("TESSARIL_SHARED_DIR");
    std::ifstream corpus(std::string(shared != nullptr ? shared : TESSARIL_SHARED_DIR) + "/bench/urls-200k.txt");
    std::set<std::string> names = {"", "%3F", "%3Futm", "UTM_SOURCE_", "ref_", "p_rd_x"};
    std::string line;
    for (std::size_t number = 0; std::getline(corpus, line); ++number) {
        if (number % 100 != 0) continue;
        samples[0].texts.push_back(line);
        for (auto at = line.find('?'); at != std::string::npos; at = line.find('&', at + 1))
            names.insert(line.substr(at + 1, line.find_first_of("=&", at + 1) - at - 1));
    }
    samples[1].texts.assign(names.begin(), names.end());
    for (const std::string unit : {"a.", "co.", "a/", "&ref", "utm_source=x&", "%3F"}) {
        for (std::string run = unit; run.size() < 1000; run += run)
            samples[0].texts.insert(samples[0].texts.end(), {"https://" + run + "amazon.c", run + "\303\251" + run,
                                                             "HTTPS://www.google." + run + "/x/-/refs/switch?" + run});
    }
    for (const auto& entry : std::filesystem::directory_iterator(TESSARIL_SOURCE_DIR "/fuzz/corpus/command_guard")) {
        const auto seed = testing::readFile(entry.path());
        if (!seed.empty() && static_cast<unsigned char>(seed[0]) <= 2) samples[2].texts.push_back(seed.substr(1));
    }
    for (auto& sample : samples)
        addHostileVariants(sample.texts, &sample == &samples[0] ? 2 : 1);
    return samples;
}

// Every search, and for patterns matched for their ranges every firstMatch and replaceAll, is ICU's;
// and the fast paths answer most of them.
TEST(RegexDifferential, ShippedPatternsAnswerAsICUDoesMostlyWithoutIt) {
    const auto samples = shippedSamples();
    if (samples[0].texts.size() < 1000) GTEST_SKIP() << "benchmark corpus not found (set TESSARIL_SHARED_DIR)";
    for (const auto& sample : samples) {
        std::size_t patterns = 0, supported = 0, searches = 0, decided = 0, gaveUp = 0, ranged = 0, answered = 0;
        for (const auto& [pattern, ranges] : sample.patterns) {
            if (!Regex::compile(pattern, sample.caseInsensitive)) continue;  // the product drops it too
            ++patterns;
            Subject subject(pattern, sample.caseInsensitive);
            if (!subject.nfa) continue;
            ++supported;
            for (const auto& text : sample.texts) {
                const auto fast = subject.check(text, ranges);
                ++searches;
                gaveUp += fast ? 0 : 1;
                decided += fast && fast != Fast::none ? 1 : 0;
                ranged += ranges ? 1 : 0;
                answered += ranges && fast == Fast::both ? 1 : 0;
            }
            if (HasFailure()) return;
        }
        // Most Command Guard patterns use \b or look-around.
        EXPECT_TRUE(&sample == &samples[2] ? supported >= 4 : supported * 10 > patterns * 9) << sample.what;
        EXPECT_GT(decided * 10, searches * 9) << sample.what;
        EXPECT_GE(answered * 10, ranged * 9) << sample.what;
        EXPECT_LT(gaveUp * 1000, searches) << sample.what;
    }
}

}  // namespace
}  // namespace tessaril
