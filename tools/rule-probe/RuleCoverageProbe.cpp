// SPDX-License-Identifier: GPL-3.0-or-later
// tessaril_rule_probe DIR < links: cleans every line with DIR/data.min.json and
// DIR/tessaril-supplementary.json, as the tool does, and prints one JSON summary: how many lines
// changed, the names the unknown-parameter detector still flags after cleaning (and every
// remaining parameter name), and for each provider how often its URL pattern matched and how often
// it acted (unwrapped, cut a path or removed a parameter). scripts/rule-coverage formats it.
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/UnknownParameterDetector.h"
#include "core/cleaning/matching/LinkMatch.h"
#include "core/foundation/FileContents.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

#include <nlohmann/json.hpp>

#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tessaril {
namespace {

struct ProviderCounts {
    std::string file;
    std::size_t urlMatched = 0;
    std::size_t acted = 0;
};

std::vector<std::string> parameterNames(std::string_view url) {
    std::vector<std::string> names;
    const auto components = URLComponents::parse(url);
    if (!components) return names;
    auto items = components->queryItems();
    for (const auto& item : items ? *items : components->percentEncodedQueryItems())
        names.push_back(item.name);
    return names;
}

class Probe {
public:
    explicit Probe(RulesEngine& engine, std::size_t mainProviders) : engine_(engine), cleaner_(engine) {
        const auto& compiled = engine.compiledProviders();
        for (std::size_t i = 0; i < compiled.size(); ++i)
            providers_[compiled[i].name].file = i < mainProviders ? "data.min.json" : "tessaril-supplementary.json";
    }

    void add(std::string_view line) {
        ++lines_;
        const CleanOutcome outcome = cleaner_.cleanWithOutcome(line);
        const CleanResult* result = outcome.result();
        if (result != nullptr) ++changed_;
        // What the clipboard monitor hands the detector: the cleaned link, or the trimmed input.
        const std::string_view kept = result != nullptr ? std::string_view(result->cleanedURL) : text::trim(line);
        for (const auto& name : UnknownParameterDetector::inspect(kept))
            ++suspicious_[name];
        if (result == nullptr && outcome.kind() != CleanOutcome::Kind::unchanged) return;
        for (const auto& name : parameterNames(kept))
            ++remaining_[name];

        // Every link the pipeline looked at: the input and each unwrapped target.
        std::set<std::string> seen{std::string(text::trim(line))};
        if (result != nullptr) {
            for (const auto& operation : result->operations)
                seen.insert(operation.inputURL);
        }
        std::set<std::string> matched;
        std::set<std::string> acted;
        for (const auto& url : seen)
            account(url, matched, acted);
        for (const auto& name : matched)
            ++providers_[name].urlMatched;
        for (const auto& name : acted)
            ++providers_[name].acted;
    }

    [[nodiscard]] nlohmann::ordered_json summary() const {
        nlohmann::ordered_json json;
        json["lines"] = lines_;
        json["changed"] = changed_;
        json["suspicious"] = suspicious_;
        json["remaining"] = remaining_;
        nlohmann::ordered_json providers = nlohmann::ordered_json::object();
        for (const auto& [name, counts] : providers_)
            providers[name] = {{"file", counts.file}, {"urlMatched", counts.urlMatched}, {"acted", counts.acted}};
        json["providers"] = providers;
        return json;
    }

private:
    void account(const std::string& url, std::set<std::string>& matched, std::set<std::string>& acted) {
        engine_.matcher().match(url, link_);
        for (const auto& provider : link_.explain().providers) {
            matched.insert(provider.provider->name);
            if (!provider.excepted &&
                (provider.redirectTarget || provider.pathRulesCut || !provider.parameters.empty())) {
                acted.insert(provider.provider->name);
            }
        }
    }

    RulesEngine& engine_;
    URLCleaner cleaner_;
    LinkMatch link_;
    std::size_t lines_ = 0;
    std::size_t changed_ = 0;
    std::map<std::string, std::size_t> suspicious_;
    std::map<std::string, std::size_t> remaining_;
    std::map<std::string, ProviderCounts> providers_;
};

int run(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tessaril_rule_probe RULES_DIR < links\n";
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    const auto main = readFileContents(directory / "data.min.json");
    const auto supplementary = readFileContents(directory / "tessaril-supplementary.json");
    if (!main) {
        std::cerr << "tessaril_rule_probe: cannot read " << (directory / "data.min.json").string() << '\n';
        return 3;
    }
    InMemoryUserDefaults defaults;
    RulesEngine engine(defaults, {nullptr, nullptr, [](std::string_view line) { std::cerr << line << '\n'; }});
    if (!engine.loadRules(*main)) return 3;
    const std::size_t mainProviders = engine.compiledProviders().size();
    if (supplementary) engine.appendSupplementaryRules(*supplementary);

    Probe probe(engine, mainProviders);
    for (std::string line; std::getline(std::cin, line);)
        probe.add(line);
    std::cout << probe.summary().dump(1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    return std::cout ? 0 : 4;
}

}  // namespace
}  // namespace tessaril

int main(int argc, char** argv) {
    return tessaril::run(argc, argv);
}
