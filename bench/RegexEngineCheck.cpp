// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/RegexEngineCheck.h"

#include <malloc.h>

#include <iostream>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "bench/LinkPatternWork.h"
#include "bench/RegexEngineFixtures.h"
#include "core/foundation/URLComponents.h"

namespace tessaril::bench {

namespace {

// Per matching provider: whether it excepts the link and, when not, its wrapper target and whether
// its path rules cut anything; each provider on its own, as `tessaril rules explain` shows them.
using Account = std::vector<std::tuple<std::uint32_t, bool, std::optional<std::string>, bool>>;

Account engineAccount(const RuleMatcher& matcher, LinkMatch& match, std::string_view link) {
    matcher.match(link, match);
    Account account;
    for (const auto& entry : match.explain().providers) {
        account.emplace_back(entry.provider - matcher.providers().data(), entry.excepted, entry.redirectTarget,
                             entry.pathRulesCut);
    }
    return account;
}

Account re2Account(const Re2LinkRules& rules, Re2LinkRules::Scan& scan, std::string_view link) {
    rules.match(link, scan);
    Account account;
    for (const std::uint32_t provider : scan.providers) {
        const bool excepted = rules.isException(scan, provider);
        account.emplace_back(provider, excepted, excepted ? std::nullopt : rules.redirectTarget(scan, provider),
                             !excepted && rules.cutPathRules(scan, provider).has_value());
    }
    return account;
}

void print(const char* side, const LinkAnswers& answers, const Account& account) {
    const auto name = [](std::uint32_t number) { return '[' + engine()->compiledProviders()[number].name + ']'; };
    std::cout << "  " << side << ": providers";
    for (const auto number : answers.providers)
        std::cout << ' ' << name(number);
    for (const auto& [number, target] : answers.targets)
        std::cout << "; target of " << name(number) << ' ' << target;
    for (const auto& [number, text] : answers.rewrites)
        std::cout << "; rewritten by " << name(number) << ' ' << text;
    for (const auto& [number, excepted, target, cut] : account) {
        if (excepted || target || cut)
            std::cout << "; " << name(number) << (excepted ? " excepts" : "") << (target ? " has a target" : "")
                      << (cut ? " cuts" : "");
    }
    std::cout << '\n';
}

// Runs both sides over the links; prints every link they answer differently. Returns the count.
std::size_t compare(const Re2LinkRules& rules, const std::vector<std::string>& texts) {
    const RuleMatcher& matcher = engine()->matcher();
    EngineWork ours(matcher);
    Re2Work theirs(rules);
    LinkMatch match;
    Re2LinkRules::Scan scan;
    std::size_t differences = 0;
    std::size_t providers = 0;
    std::size_t targets = 0;
    std::size_t rewrites = 0;
    std::size_t exceptions = 0;
    for (const auto& link : texts) {
        LinkAnswers a;
        LinkAnswers b;
        ours.run(link, a);
        theirs.run(link, b);
        const Account accountA = engineAccount(matcher, match, link);
        const Account accountB = re2Account(rules, scan, link);
        providers += a.providers.size();
        targets += a.targets.size();
        rewrites += a.rewrites.size();
        for (const auto& entry : accountA)
            exceptions += std::get<1>(entry) ? 1 : 0;
        if (a == b && accountA == accountB) continue;
        ++differences;
        std::cout << "differs: " << link << '\n';
        print("engine", a, accountA);
        print("re2   ", b, accountB);
    }
    std::cout << texts.size() << " links, " << differences << " answered differently; the engine found " << providers
              << " matching providers, " << targets << " wrapper targets, " << rewrites << " path rewrites, "
              << exceptions << " exceptions\n";
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

std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

// The heap a side holds after loading and after one pass over the corpus (its lazily built state).
template <typename Build, typename Work>
void printHeap(const std::string& side, Build build, Work work) {
    const std::size_t before = heapInUse();
    auto built = build();
    const std::size_t loaded = heapInUse();
    {
        auto runner = work(*built);
        Tally tally;
        for (const auto& link : links())
            runner.run(link, tally);
    }
    std::cout << side << ": heap " << (loaded - before) / 1024 << " KiB after loading, "
              << (heapInUse() - before) / 1024 << " KiB after one pass over the corpus\n";
}

}  // namespace

int runRegexEngineCheck() {
    if (engine() == nullptr || links().empty()) {
        std::cerr << "regex engine bench: shipped rules or benchmark corpus not found\n";
        return 2;
    }
    std::size_t differences = 0;
    for (const Variant& variant : kVariants) {
        const Re2LinkRules& rules = *re2Rules(variant);
        std::cout << variant.name << ": " << rules.rejected().size() << " patterns rejected";
        for (const auto& [pattern, error] : rules.rejected())
            std::cout << "\n  " << pattern << " : " << error;
        std::cout << "\n  the corpus: ";
        differences += compare(rules, links());
        // Not counted: where the two differ here, the semantics differ, and the decision records it.
        std::cout << "  edge links (" << kEdgeLinks.size() << ", of which the URL parser refuses";
        for (const auto& link : kEdgeLinks) {
            if (!URLComponents::parse(link)) std::cout << ' ' << &link - kEdgeLinks.data();
        }
        std::cout << "):\n";
        (void)compare(rules, kEdgeLinks);
    }
    const ShippedRuleFiles& files = *ruleFiles();
    const std::size_t before = heapInUse();
    {
        const EngineLinkPatterns patterns(engine()->compiledProviders());
        std::cout << "engine (its link patterns alone): heap " << (heapInUse() - before) / 1024
                  << " KiB after loading\n";
    }
    printHeap(
        "engine (all rules)",
        [&] {
            auto loaded = std::make_unique<LoadedEngine>();
            (void)loaded->load(files);
            (void)loaded->engine.matcher();
            return loaded;
        },
        [](const LoadedEngine& loaded) { return EngineWork(loaded.engine.matcher()); });
    for (const Variant& variant : kVariants) {
        printHeap(
            std::string(variant.name) + " (link patterns)",
            [&] { return std::make_unique<Re2LinkRules>(engine()->compiledProviders(), variant.design); },
            [](const Re2LinkRules& rules) { return Re2Work(rules); });
    }
    return differences == 0 ? 0 : 1;
}

}  // namespace tessaril::bench
