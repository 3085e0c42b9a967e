// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/RegexEngineFixtures.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "core/foundation/RulePrefilter.h"
#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

namespace tessaril::bench {

namespace {

std::size_t corpusLines = 0;

}  // namespace

void limitCorpusLines(std::size_t lines) {
    corpusLines = lines;
}

const std::vector<std::string>& links() {
    static const std::vector<std::string> kept = [] {
        const char* shared = std::getenv("TESSARIL_SHARED_DIR");
        std::ifstream corpus(std::string(shared != nullptr ? shared : TESSARIL_SHARED_DIR) + "/bench/urls-200k.txt",
                             std::ios::binary);
        std::vector<std::string> out;
        std::string line;
        for (std::size_t read = 0; (corpusLines == 0 || read < corpusLines) && std::getline(corpus, line); ++read) {
            const std::string_view trimmed = text::trim(line);
            if ((trimmed.starts_with("http://") || trimmed.starts_with("https://")) && URLComponents::parse(trimmed))
                out.emplace_back(trimmed);
        }
        return out;
    }();
    return kept;
}

const ShippedRuleFiles* ruleFiles() {
    static const std::optional<ShippedRuleFiles> files = readShippedRuleFiles();
    return files ? &*files : nullptr;
}

const RulesEngine* engine() {
    static const std::unique_ptr<LoadedEngine> loaded = []() -> std::unique_ptr<LoadedEngine> {
        auto made = std::make_unique<LoadedEngine>();
        if (ruleFiles() == nullptr || !made->load(*ruleFiles())) return nullptr;
        return made;
    }();
    return loaded ? &loaded->engine : nullptr;
}

const Re2LinkRules* re2Rules(const Variant& variant) {
    static std::map<const Variant*, std::unique_ptr<Re2LinkRules>> built;
    auto& rules = built[&variant];
    if (!rules && engine() != nullptr)
        rules = std::make_unique<Re2LinkRules>(engine()->compiledProviders(), variant.design);
    return rules.get();
}

EngineLinkPatterns::EngineLinkPatterns(std::span<const CompiledProvider> providers) {
    std::set<std::string_view> seen;
    const auto compile = [&](std::string_view pattern) {
        if (!seen.insert(pattern).second) return;
        auto regex = Regex::compile(pattern, true);
        if (!regex) return;
        (void)regex->search("");
        (void)index.add(RulePrefilter::fromPattern(pattern, true));
        regexes.push_back(std::move(*regex));
    };
    for (const CompiledProvider& provider : providers) {
        compile(provider.urlRegex.pattern());
        for (const Regex& regex : provider.exceptionRegexes)
            compile(regex.pattern());
        for (const auto* rules : {&provider.redirectionRegexes, &provider.rawRuleRegexes}) {
            for (const auto& rule : *rules)
                compile(rule.pattern);
        }
    }
    index.build();
}

}  // namespace tessaril::bench
