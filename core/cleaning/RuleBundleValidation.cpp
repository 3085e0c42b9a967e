// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's check of a rule bundle before it is installed or loaded from disk.
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/Dates.h"
#include "core/foundation/Regex.h"

#include <array>
#include <memory>

namespace tessaril {

namespace {

// Every pattern of the provider, in the order a failure is looked for.
bool everyPatternCompiles(const Provider& provider) {
    if (!Regex::compile(provider.urlPattern, true)) return false;
    for (const auto* patterns : {&provider.rules, &provider.referralMarketing, &provider.rawRules, &provider.exceptions,
                                 &provider.redirections, &provider.keptParameters}) {
        for (const auto& pattern : *patterns) {
            if (!Regex::compile(pattern, true)) return false;
        }
    }
    for (const auto& entry : provider.encodedRedirections) {
        if (!Regex::compile(entry.pattern, true)) return false;
    }
    return true;
}

std::optional<std::string> patternProblem(const ProvidersFile& file) {
    for (const auto& [name, provider] : file.providers) {
        if (provider.urlPattern.empty()) return "Missing provider URL pattern";
        if (!everyPatternCompiles(provider)) return "A rule pattern did not compile";
    }
    return std::nullopt;
}

// Ordinary links that any sane bundle leaves alone, and one whose only tracker every bundle must remove.
constexpr std::string_view kStrippedByEveryBundle = "utm_source=fixture&";
constexpr std::array<std::string_view, 3> kSmokeFixtures = {
    "https://example.com/article?id=42&page=2&q=shoes",
    "https://www.youtube.com/watch?v=synthetic123",
    "https://example.com/?utm_source=fixture&id=42",
};

std::string expectedAfterCleaning(std::string_view fixture) {
    std::string expected(fixture);
    for (auto at = expected.find(kStrippedByEveryBundle); at != std::string::npos;
         at = expected.find(kStrippedByEveryBundle, at)) {
        expected.erase(at, kStrippedByEveryBundle.size());
    }
    return expected;
}

bool smokeChecksPass(RulesEngine& engine) {
    URLCleaner cleaner(engine);
    cleaner.setMatchCounting(URLCleaner::MatchCounting::off);
    for (std::string_view fixture : kSmokeFixtures) {
        const CleanOutcome outcome = cleaner.cleanWithOutcome(fixture);
        const CleanResult* result = outcome.kind() == CleanOutcome::Kind::cleaned ? outcome.result() : nullptr;
        const std::string actual = result != nullptr ? result->cleanedURL : std::string(fixture);
        if (actual != expectedAfterCleaning(fixture)) return false;
    }
    return true;
}

// Removes the throw-away suite however validation ends.
class ThrowAwaySuite {
public:
    ThrowAwaySuite(UserDefaults& defaults, std::string name)
        : defaults_(defaults), name_(std::move(name)), suite_(defaults.suite(name_)) {}
    ~ThrowAwaySuite() {
        if (suite_) defaults_.removeSuite(name_);
    }
    ThrowAwaySuite(const ThrowAwaySuite&) = delete;
    ThrowAwaySuite& operator=(const ThrowAwaySuite&) = delete;

    [[nodiscard]] UserDefaults* get() const { return suite_.get(); }

private:
    UserDefaults& defaults_;
    std::string name_;
    std::unique_ptr<UserDefaults> suite_;
};

}  // namespace

std::optional<std::string> RulesEngine::validateRuleBundle(UserDefaults& defaults, std::string_view clearURLsData,
                                                           std::optional<std::string_view> supplementaryData) {
    const auto clearURLs = ProvidersFile::decode(clearURLsData);
    if (!clearURLs) return "ClearURLs JSON could not be decoded";
    std::optional<ProvidersFile> supplementary;
    if (supplementaryData) {
        supplementary = ProvidersFile::decode(*supplementaryData);
        if (!supplementary) return "Supplementary JSON could not be decoded";
    }
    if (auto problem = patternProblem(*clearURLs)) return problem;
    if (supplementary) {
        if (auto problem = patternProblem(*supplementary)) return problem;
    }

    const ThrowAwaySuite suite(defaults, "Tessaril-rule-validation-" + makeUuid());
    if (suite.get() == nullptr) return "Could not isolate validation preferences";
    RulesEngine engine(*suite.get(), RulesEngineEnvironment{nullptr, nullptr, [](std::string_view) {}});
    engine.loadRuleBundle(clearURLsData, supplementaryData);
    if (engine.compiledProviders().empty()) return "No providers compiled";
    if (!smokeChecksPass(engine)) return "Local functional smoke checks failed";
    return std::nullopt;
}

}  // namespace tessaril
