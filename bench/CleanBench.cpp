// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of one clean with the shipped rules and the application's stores, on a tracked and on a
// clean link. The tracked case runs with the counts saved after every clean (as in the application)
// and with saving deferred (as in the command-line filter).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "core/cleaning/URLCleaner.h"
#include "core/clipboard/LastCleanRecorder.h"
#include "core/foundation/FileContents.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"

namespace tessaril {
namespace {

const std::string kBundle = TESSARIL_SOURCE_DIR "/resources/Tessaril_TessarilCore.bundle/";
constexpr std::string_view kTracked =
    "https://www.example-shop.com/products/kettle?id=4411&utm_source=newsletter&utm_medium=email"
    "&utm_campaign=spring&fbclid=IwAR2xYz&color=red";
constexpr std::string_view kClean = "https://en.wikipedia.org/wiki/Uniform_Resource_Identifier?action=view&oldid=1";

struct Setup {
    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults};
    DomainExceptionStore exceptions{defaults};
    CustomBlocklistStore blocklist{defaults};
    LastCleanRecorder recorder;
    URLCleaner cleaner{engine, &exceptions, &recorder, "macOSClipboard"};

    bool load() {
        const auto main = readFileContents(kBundle + "data.min.json");
        const auto supplementary = readFileContents(kBundle + "tessaril-supplementary.json");
        if (!main || !supplementary) return false;
        cleaner.setCustomBlocklist(&blocklist);
        return engine.loadRuleBundle(*main, std::string_view(*supplementary));
    }
};

void clean(benchmark::State& state, std::string_view url, bool savesCounts, CleanOutcome::Kind expected) {
    auto setup = std::make_unique<Setup>();
    if (!setup->load()) {
        state.SkipWithError("shipped rule files not found");
        return;
    }
    setup->cleaner.setSavesMatchCountsAfterEachClean(savesCounts);
    if (setup->cleaner.cleanWithOutcome(url).kind() != expected) {
        state.SkipWithError("unexpected outcome");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(setup->cleaner.cleanWithOutcome(url));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void cleanTrackedLink(benchmark::State& state) {
    clean(state, kTracked, true, CleanOutcome::Kind::cleaned);
}
void cleanTrackedLinkDeferredCounts(benchmark::State& state) {
    clean(state, kTracked, false, CleanOutcome::Kind::cleaned);
}
void cleanCleanLink(benchmark::State& state) {
    clean(state, kClean, true, CleanOutcome::Kind::unchanged);
}
// The engine's provider selection alone (one search per provider), for comparison with a whole clean.
void selectProvidersForCleanLink(benchmark::State& state) {
    auto setup = std::make_unique<Setup>();
    if (!setup->load()) {
        state.SkipWithError("shipped rule files not found");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(setup->engine.matchingProviders(kClean));
    state.counters["providers"] = static_cast<double>(setup->engine.compiledProviders().size());
}

BENCHMARK(cleanTrackedLink)->Unit(benchmark::kMicrosecond);
BENCHMARK(cleanTrackedLinkDeferredCounts)->Unit(benchmark::kMicrosecond);
BENCHMARK(cleanCleanLink)->Unit(benchmark::kMicrosecond);
BENCHMARK(selectProvidersForCleanLink)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaril
