// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/RegexEngineCheck.h"

#include <malloc.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "bench/LinkPatternWork.h"
#include "bench/RegexEngineFixtures.h"
#include "core/foundation/URLComponents.h"

namespace tessaril::bench {

namespace {

std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

void printAnswers(std::ostream& out, const char* side, const LinkAnswers& answers, const RulesEngine& engine) {
    out << "  " << side << ": providers";
    for (const auto number : answers.providers)
        out << " [" << engine.compiledProviders()[number].name << "]";
    for (const auto& [number, target] : answers.targets)
        out << "; target of [" << engine.compiledProviders()[number].name << "] " << target;
    for (const auto& [number, cut] : answers.cuts)
        out << "; cut by [" << engine.compiledProviders()[number].name << "] " << cut;
    for (const auto number : answers.exceptions)
        out << "; exception of [" << engine.compiledProviders()[number].name << "]";
    out << '\n';
}

// Runs both sides over the links; prints every link they answer differently. Returns the count.
std::size_t check(const RulesEngine& engine, const Re2LinkRules& rules, const std::vector<std::string>& texts) {
    EngineWork ours(engine);
    Re2Work theirs(rules);
    LinkAnswers a;
    LinkAnswers b;
    std::size_t differences = 0;
    std::size_t providers = 0;
    std::size_t targets = 0;
    std::size_t cuts = 0;
    std::size_t exceptions = 0;
    for (const auto& link : texts) {
        a.clear();
        b.clear();
        ours.run(link, kAllParts, a);
        theirs.run(link, kAllParts, b);
        providers += a.providers.size();
        targets += a.targets.size();
        cuts += a.cuts.size();
        exceptions += a.exceptions.size();
        if (a.providers == b.providers && a.targets == b.targets && a.cuts == b.cuts && a.exceptions == b.exceptions)
            continue;
        ++differences;
        std::cout << "differs: " << link << '\n';
        printAnswers(std::cout, "engine", a, engine);
        printAnswers(std::cout, "re2   ", b, engine);
    }
    std::cout << texts.size() << " links, " << differences << " answered differently; the engine found " << providers
              << " matching providers, " << targets << " wrapper targets, " << cuts << " path rule cuts, " << exceptions
              << " exceptions\n";
    return differences;
}

// Links made to meet where ICU's semantics and RE2's part (or might): full case folding ("ß" is
// "ss" to ICU), \d (Unicode digits to ICU), "." (ICU stops at line separators), malformed UTF-8
// (a replacement character to ICU, nothing to RE2), capitals, the Kelvin sign and long s (folded
// alike by both) and a lazy quantifier with two candidate parameters. The corpus has none of them.
const std::vector<std::string> kEdgeLinks = {
    "https://l.me\u00DFenger.com/l.php?u=https%3A%2F%2Fexample.org%2F",
    "https://search.app:\u0661\u0662/?link=https%3A%2F%2Fexample.org%2F",
    "https://pantip.com/topic/1#lead\u2028more",
    "https://pantip.com/topic/1#lead\u0085more",
    "https://www.amazon.com/dp/B01/ref=sr\xFF/x",
    "https://WWW.AMAZON.DE/dp/B01/REF=SR_1?tag=x",
    "https://www.faceboo\u212A.com/l.php?u=https%3A%2F%2Fexample.org",
    "https://\u017Fteamcommunity.com/linkfilter/?url=https%3A%2F%2Fexample.org",
    "https://www.google.com/url?q=https://a.example/&url=https://b.example/",
};

// The heap a side holds after loading and after one pass over the corpus (its lazily built state).
template <typename Build, typename Work>
void printHeap(const char* side, Build build, Work work) {
    const std::size_t before = heapInUse();
    auto built = build();
    const std::size_t loaded = heapInUse();
    {
        auto runner = work(*built);
        Tally tally;
        for (const auto& link : links())
            runner.run(link, kAllParts, tally);
    }
    const std::size_t after = heapInUse();
    std::cout << side << ": heap " << (loaded - before) / 1024 << " KiB after loading, " << (after - before) / 1024
              << " KiB after one pass over the corpus\n";
}

}  // namespace

int runRegexEngineCheck() {
    const RulesEngine* ours = engine();
    if (ours == nullptr || links().empty()) {
        std::cerr << "regex engine bench: shipped rules or benchmark corpus not found\n";
        return 2;
    }
    std::size_t differences = 0;
    for (const Variant& variant : kVariants) {
        const Re2LinkRules& rules = *re2Rules(variant);
        if (!sameProviders(*ours, rules)) {
            std::cerr << "regex engine bench: the two sides number the providers differently\n";
            return 2;
        }
        if (&variant == kVariants) {
            std::cout << rules.rejected().size() << " patterns RE2 rejects (they run on ICU)\n";
            for (const auto& [pattern, error] : rules.rejected())
                std::cout << "  " << pattern << " : " << error << '\n';
        }
        std::cout << variant.name;
        if (variant.design == Re2LinkRules::Design::filtered) {
            std::cout << " (" << rules.atomCount() << " atoms, " << rules.unfilteredCount()
                      << " patterns run for every link)";
        }
        std::cout << ", the corpus: ";
        differences += check(*ours, rules, links());
    }
    const EngineCalls& calls = *engineCalls();
    std::string difference;
    const bool callsAgree = calls.agree(difference);
    const auto perLink = [&](EngineCalls::Kind kind) {
        return static_cast<double>(calls.count(kind)) / static_cast<double>(links().size());
    };
    std::cout << "the engine's expression runs per link: " << perLink(EngineCalls::urlSearch) << " URL searches, "
              << perLink(EngineCalls::exceptionSearch) << " exception searches, " << perLink(EngineCalls::redirection)
              << " redirections, " << perLink(EngineCalls::pathRule) << " path rules; RE2 answers them "
              << (callsAgree ? "alike" : "differently: " + difference) << '\n';
    differences += callsAgree ? 0 : 1;
    // Not counted: where the two differ here, the semantics differ, and the decision records it.
    std::cout << "edge links (" << kEdgeLinks.size() << ", of which the URL parser refuses";
    for (const auto& link : kEdgeLinks) {
        if (!URLComponents::parse(link)) std::cout << ' ' << &link - kEdgeLinks.data();
    }
    std::cout << "): ";
    (void)check(*ours, *re2Rules(kVariants[0]), kEdgeLinks);
    const RuleFiles& files = *ruleFiles();
    const std::size_t before = heapInUse();
    {
        const EngineLinkPatterns patterns(files);
        std::cout << "engine (its link patterns alone): heap " << (heapInUse() - before) / 1024
                  << " KiB after loading\n";
    }
    printHeap(
        "engine (all rules)",
        [&] {
            auto loaded = std::make_unique<LoadedEngine>();
            (void)loaded->engine.loadRuleBundle(files.main, std::string_view(files.supplementary));
            return loaded;
        },
        [](const LoadedEngine& loaded) { return EngineWork(loaded.engine); });
    for (const Variant& variant : kVariants) {
        const std::string side = std::string(variant.name) + " (link patterns)";
        printHeap(
            side.c_str(),
            [&] { return std::make_unique<Re2LinkRules>(decodedProviders(files), variant.design, variant.minAtomLen); },
            [](const Re2LinkRules& rules) { return Re2Work(rules); });
    }
    return differences == 0 ? 0 : 1;
}

}  // namespace tessaril::bench
