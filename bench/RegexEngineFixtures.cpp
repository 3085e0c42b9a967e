// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/RegexEngineFixtures.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>

#include "core/foundation/FileContents.h"
#include "core/foundation/RulePrefilter.h"
#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

namespace tessaril::bench {

namespace {

const std::string kBundle = TESSARIL_SOURCE_DIR "/resources/Tessaril_TessarilCore.bundle/";

std::string corpusPath() {
    const char* shared = std::getenv("TESSARIL_SHARED_DIR");
    return std::string(shared != nullptr ? shared : TESSARIL_SHARED_DIR) + "/bench/urls-200k.txt";
}

}  // namespace

const std::vector<std::string>& links() {
    static const std::vector<std::string> kept = [] {
        std::vector<std::string> out;
        std::ifstream corpus(corpusPath(), std::ios::binary);
        std::string line;
        while (std::getline(corpus, line)) {
            const std::string_view trimmed = text::trim(line);
            if ((trimmed.starts_with("http://") || trimmed.starts_with("https://")) && URLComponents::parse(trimmed))
                out.emplace_back(trimmed);
        }
        return out;
    }();
    return kept;
}

const RuleFiles* ruleFiles() {
    static const std::unique_ptr<RuleFiles> files = []() -> std::unique_ptr<RuleFiles> {
        auto main = readFileContents(kBundle + "data.min.json");
        auto supplementary = readFileContents(kBundle + "tessaril-supplementary.json");
        if (!main || !supplementary) return nullptr;
        return std::make_unique<RuleFiles>(RuleFiles{std::move(*main), std::move(*supplementary)});
    }();
    return files.get();
}

std::vector<std::pair<std::string, Provider>> decodedProviders(const RuleFiles& files) {
    std::vector<std::pair<std::string, Provider>> providers;
    for (const std::string* data : {&files.main, &files.supplementary}) {
        if (auto file = ProvidersFile::decode(*data))
            providers.insert(providers.end(), file->providers.begin(), file->providers.end());
    }
    return providers;
}

const RulesEngine* engine() {
    static const std::unique_ptr<LoadedEngine> loaded = []() -> std::unique_ptr<LoadedEngine> {
        const RuleFiles* files = ruleFiles();
        auto made = std::make_unique<LoadedEngine>();
        if (files == nullptr || !made->engine.loadRuleBundle(files->main, std::string_view(files->supplementary)))
            return nullptr;
        return made;
    }();
    return loaded ? &loaded->engine : nullptr;
}

const Re2LinkRules* re2Rules(const Variant& variant) {
    static std::map<const Variant*, std::unique_ptr<Re2LinkRules>> built;
    auto& rules = built[&variant];
    if (!rules && ruleFiles() != nullptr)
        rules = std::make_unique<Re2LinkRules>(decodedProviders(*ruleFiles()), variant.design, variant.minAtomLen);
    return rules.get();
}

const EngineCalls* engineCalls() {
    static const std::unique_ptr<EngineCalls> calls = []() -> std::unique_ptr<EngineCalls> {
        if (engine() == nullptr || links().empty()) return nullptr;
        return std::make_unique<EngineCalls>(*engine(), links());
    }();
    return calls.get();
}

bool sameProviders(const RulesEngine& engine, const Re2LinkRules& rules) {
    return engine.compiledProviders().size() == rules.providerCount();
}

EngineLinkPatterns::EngineLinkPatterns(const RuleFiles& files) {
    const auto compile = [&](const std::string& pattern) {
        auto regex = Regex::compile(pattern, true);
        if (!regex) return;
        (void)regex->search("");
        (void)index.add(RulePrefilter::fromPattern(pattern, true));
        regexes.push_back(std::move(*regex));
    };
    for (const auto& [name, provider] : decodedProviders(files)) {
        compile(provider.urlPattern);
        for (const auto* patterns : {&provider.exceptions, &provider.redirections, &provider.rawRules}) {
            for (const auto& pattern : *patterns)
                compile(pattern);
        }
    }
    index.build();
}

}  // namespace tessaril::bench
