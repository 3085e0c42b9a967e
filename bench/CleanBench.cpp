// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one cleanWithOutcome with the shipped rules and the application's stores: a link with
// nothing to clean, a tracked link, and a redirect wrapper inside a redirect wrapper. The tracked
// link runs with saving deferred (as in the command-line filter) and with the counts saved after
// every clean (as in the application).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>

#include "bench/ShippedRules.h"
#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/matching/LinkMatch.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"

namespace tessaril {
namespace {

constexpr std::string_view kTracked =
    "https://www.example-shop.com/products/kettle?id=4411&utm_source=newsletter&utm_medium=email"
    "&utm_campaign=spring&fbclid=IwAR2xYz&color=red";
constexpr std::string_view kClean = "https://en.wikipedia.org/wiki/Uniform_Resource_Identifier?action=view&oldid=1";
// A search wrapper around a social wrapper around a tracked shop link: two unwraps, then a removal.
constexpr std::string_view kNestedWrapper =
    "https://www.google.com/url?q=https%3A%2F%2Fl.facebook.com%2Fl.php%3Fu%3Dhttps%253A%252F%252Fwww.example-shop."
    "com%252Fkettle%253Fid%253D4411%2526utm_source%253Dnewsletter%26h%3DAT0x&sa=D&usg=AOvVaw1";

struct Setup {
    bench::LoadedEngine rules;
    DomainExceptionStore exceptions{rules.defaults};
    CustomBlocklistStore blocklist{rules.defaults};
    URLCleaner cleaner{rules.engine, &exceptions};

    bool load() {
        const auto files = bench::readShippedRuleFiles();
        cleaner.setCustomBlocklist(&blocklist);
        return files && rules.load(*files);
    }
};

std::size_t unwraps(const CleanOutcome& outcome) {
    const CleanResult* result = outcome.result();
    if (result == nullptr) return 0;
    return static_cast<std::size_t>(std::count_if(
        result->operations.begin(), result->operations.end(),
        [](const CleanOperation& operation) { return operation.kind == CleanOperationKind::offlineWrapperUnwrap; }));
}

void clean(benchmark::State& state, std::string_view url, bool savesCounts, CleanOutcome::Kind expected,
           std::size_t expectedUnwraps = 0) {
    auto setup = std::make_unique<Setup>();
    if (!setup->load()) {
        state.SkipWithError("shipped rule files not found");
        return;
    }
    setup->cleaner.setMatchCounting(savesCounts ? URLCleaner::MatchCounting::savedAfterEachClean
                                                : URLCleaner::MatchCounting::keptInMemory);
    const CleanOutcome first = setup->cleaner.cleanWithOutcome(url);
    if (first.kind() != expected || unwraps(first) != expectedUnwraps) {
        state.SkipWithError("unexpected outcome");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(setup->cleaner.cleanWithOutcome(url));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void cleanWithOutcomeCleanLink(benchmark::State& state) {
    clean(state, kClean, false, CleanOutcome::Kind::unchanged);
}
void cleanWithOutcomeTrackedLink(benchmark::State& state) {
    clean(state, kTracked, false, CleanOutcome::Kind::cleaned);
}
void cleanWithOutcomeTrackedLinkSavingCounts(benchmark::State& state) {
    clean(state, kTracked, true, CleanOutcome::Kind::cleaned);
}
void cleanWithOutcomeNestedWrapper(benchmark::State& state) {
    clean(state, kNestedWrapper, false, CleanOutcome::Kind::cleaned, 2);
}
// The engine's provider selection alone, for comparison with a whole clean.
void matchingProvidersForCleanLink(benchmark::State& state) {
    auto setup = std::make_unique<Setup>();
    if (!setup->load()) {
        state.SkipWithError("shipped rule files not found");
        return;
    }
    const RuleMatcher& matcher = setup->rules.engine.matcher();
    LinkMatch link;
    for (auto _ : state) {
        matcher.match(kClean, link);
        benchmark::DoNotOptimize(link.providers().data());
    }
    state.counters["providers"] = static_cast<double>(setup->rules.engine.compiledProviders().size());
}

BENCHMARK(cleanWithOutcomeCleanLink)->Unit(benchmark::kMicrosecond);
BENCHMARK(cleanWithOutcomeTrackedLink)->Unit(benchmark::kMicrosecond);
BENCHMARK(cleanWithOutcomeTrackedLinkSavingCounts)->Unit(benchmark::kMicrosecond);
BENCHMARK(cleanWithOutcomeNestedWrapper)->Unit(benchmark::kMicrosecond);
BENCHMARK(matchingProvidersForCleanLink)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaril
