// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up cost of the rules: decoding and compiling the shipped files into a fresh engine.
#include <benchmark/benchmark.h>

#include "bench/ShippedRules.h"

namespace tessaril {
namespace {

void rulesEngineLoadShippedRules(benchmark::State& state) {
    const auto files = bench::readShippedRuleFiles();
    if (!files) {
        state.SkipWithError("shipped rule files not found");
        return;
    }
    std::size_t providers = 0;
    std::size_t patterns = 0;
    for (auto _ : state) {
        bench::LoadedEngine loaded;
        benchmark::DoNotOptimize(loaded.load(*files));
        providers = loaded.engine.compiledProviders().size();
        patterns = 0;
        for (const auto& provider : loaded.engine.compiledProviders()) {
            patterns += 1 + provider.exceptionRegexes.size() + provider.paramRegexes.size() +
                        provider.referralParamRegexes.size() + provider.rawRuleRegexes.size() +
                        provider.redirectionRegexes.size();
        }
    }
    state.counters["providers"] = static_cast<double>(providers);
    state.counters["patterns"] = static_cast<double>(patterns);
}
BENCHMARK(rulesEngineLoadShippedRules)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessaril
