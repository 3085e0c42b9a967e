// SPDX-License-Identifier: GPL-3.0-or-later
// Rule documents from arbitrary bytes: a provider rule file, a supplementary file added to a loaded
// engine, a rules export handed to import, or a downloaded bundle's rule file handed to validation.
// The first byte picks which; the rest is the document. Any bytes either load or are refused with
// the engine as it was; whatever loads still cleans a fixed set of links; the engine's own export
// always imports back without changing anything; and validation answers with one of its reasons,
// accepts only what loads, and never touches the engine in use.
#include "core/cleaning/CustomRuleCheck.h"
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/matching/NameRuleIndex.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/Regex.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tessaril;

// A small valid rule file that the supplementary and import modes start from.
constexpr std::string_view kBaseRules = R"json({"providers": {
  "shop": {"urlPattern": "^https?://(?:www\\.)?shop\\.example/", "rules": ["ref", "pd_[a-z]+"],
           "referralMarketing": ["tag"], "rawRules": ["/ref=[^/?]*"],
           "exceptions": ["^https?://shop\\.example/checkout"]},
  "wrapper": {"urlPattern": "^https?://out\\.example/", "redirections": ["^https?://out\\.example/r\\?u=([^&]*)"]},
  "everywhere": {"urlPattern": "", "rules": ["trk"]}
}})json";

constexpr std::array<std::string_view, 8> kLinks = {
    "https://shop.example/item/ref=sr_1?ref=a&tag=b&pd_rd=c&id=1",
    "https://shop.example/checkout?ref=a",
    "https://out.example/r?u=https%3A%2F%2Fnews.example%2Fa%3Futm_source%3Dx%26trk%3D1",
    "https://www.google.com/search?q=x&client=firefox#lkt=1",
    "https://music.youtube.com/watch?v=1&si=2&feature=share",
    "https://www.reddit.com/r/x?js_challenge=1&token=t&keep=1",
    "http://[::1]:8080/p?utm_source=a&&=&b=%E2",
    "https://example.com/%E2%82%AC?fbclid=1#frag",
};

struct Snapshot {
    std::vector<std::string> providerNames;
    std::size_t categoryCount = 0;
    std::size_t fallbackRuleCount = 0;
    std::optional<std::string> exported;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const RulesEngine& engine) {
    Snapshot state;
    for (const auto& provider : engine.compiledProviders())
        state.providerNames.push_back(provider.name);
    state.categoryCount = engine.categories().size();
    state.fallbackRuleCount = engine.fallbackRules().size();
    state.exported = engine.exportRules();
    return state;
}

void cleanFixedLinks(RulesEngine& engine) {
    URLCleaner cleaner(engine);
    for (std::string_view link : kLinks) {
        const CleanOutcome outcome = cleaner.cleanWithOutcome(link);
        FUZZ_CHECK(outcome.kind() != CleanOutcome::Kind::invalid);
        if (const CleanResult* result = outcome.result()) {
            FUZZ_CHECK(result->originalURL == link);
            FUZZ_CHECK(result->cleanedURL != result->originalURL);
        }
    }
}

// Plain-name rules are loaded without compiling their expressions, on the promise that the name
// index's grammar is one ICU accepts: any such rule a document brings must compile.
void checkDeferredRulesCompile(const RulesEngine& engine) {
    for (const auto& provider : engine.compiledProviders()) {
        for (const auto* rules : {&provider.paramRegexes, &provider.referralParamRegexes}) {
            for (const auto& rule : *rules) {
                if (NameRuleIndex::literalExpansion(rule.pattern))
                    FUZZ_CHECK(Regex::compile("^" + rule.pattern + "$", true).has_value());
            }
        }
    }
}

// An import brings in only custom rules that could have been added by hand, and no more of them
// than may be kept.
void checkCustomRulesKeepable(const RulesEngine& engine) {
    std::size_t custom = 0;
    for (const auto& category : engine.categories()) {
        for (const auto& rule : category->rules()) {
            if (rule->source() != RuleEntry::Source::custom) continue;
            ++custom;
            FUZZ_CHECK(!customRuleProblem(rule->pattern(), rule->displayName()));
            FUZZ_CHECK(rule->category() == category->type());
        }
    }
    FUZZ_CHECK(custom <= maximumCustomRules);
}

// The engine's own export is a document it accepts, and taking it back changes nothing.
void checkExportRoundTrip(RulesEngine& engine) {
    const auto exported = engine.exportRules();
    if (!exported) return;
    FUZZ_CHECK(engine.importRules(*exported));
    FUZZ_CHECK(engine.exportRules() == exported);
}

void run(std::uint8_t mode, std::string_view document) {
    InMemoryUserDefaults defaults;
    RulesEngine engine(defaults, RulesEngineEnvironment{nullptr, nullptr, [](std::string_view) {}});
    if (mode != 0 && !engine.loadRules(kBaseRules)) std::abort();
    const Snapshot before = snapshot(engine);

    bool loaded = false;
    switch (mode) {
        case 0:
            loaded = engine.loadRules(document);
            break;
        case 1:
            loaded = engine.appendSupplementaryRules(document);
            break;
        case 3: {
            static const std::array<std::string_view, 7> kReasons = {"ClearURLs JSON could not be decoded",
                                                                     "Supplementary JSON could not be decoded",
                                                                     "Missing provider URL pattern",
                                                                     "A rule pattern did not compile",
                                                                     "Could not isolate validation preferences",
                                                                     "No providers compiled",
                                                                     "Local functional smoke checks failed"};
            const auto problem = RulesEngine::validateRuleBundle(defaults, document, kBaseRules);
            FUZZ_CHECK(!problem || std::find(kReasons.begin(), kReasons.end(), *problem) != kReasons.end());
            if (!problem) {
                RulesEngine scratch(defaults, RulesEngineEnvironment{nullptr, nullptr, [](std::string_view) {}});
                FUZZ_CHECK(scratch.loadRuleBundle(document, kBaseRules) && !scratch.compiledProviders().empty());
            }
            break;
        }
        default: {
            // The reason given for a refusal and the refusal itself come from one decision.
            const bool refused = engine.importRefusal(document).has_value();
            loaded = engine.importRules(document);
            FUZZ_CHECK(loaded != refused);
            checkCustomRulesKeepable(engine);
            break;
        }
    }
    if (!loaded) {
        FUZZ_CHECK(snapshot(engine) == before);
    } else if (mode < 2) {
        FUZZ_CHECK(engine.categories().size() == 8);
    }
    checkDeferredRulesCompile(engine);
    cleanFixedLinks(engine);
    checkExportRoundTrip(engine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view document(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        run(data[0] % 4, document);
    } catch (...) {
        fuzz::propertyFailed("a rule document made the engine throw", __FILE__, __LINE__);
    }
    return 0;
}
