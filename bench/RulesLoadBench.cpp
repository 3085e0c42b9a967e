// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up cost of the rules: decoding and compiling the shipped files into a fresh engine.
#include <benchmark/benchmark.h>

#include <string>

#include "core/cleaning/RulesEngine.h"
#include "core/foundation/FileContents.h"
#include "core/foundation/InMemoryUserDefaults.h"

namespace tessaril {
namespace {

const std::string kBundle = TESSARIL_SOURCE_DIR "/resources/Tessaril_TessarilCore.bundle/";

void rulesEngineLoadShippedRules(benchmark::State& state) {
    const auto main = readFileContents(kBundle + "data.min.json");
    const auto supplementary = readFileContents(kBundle + "tessaril-supplementary.json");
    if (!main || !supplementary) {
        state.SkipWithError("shipped rule files not found");
        return;
    }
    std::size_t providers = 0;
    std::size_t patterns = 0;
    for (auto _ : state) {
        InMemoryUserDefaults defaults;
        RulesEngine engine(defaults);
        benchmark::DoNotOptimize(engine.loadRuleBundle(*main, std::string_view(*supplementary)));
        providers = engine.compiledProviders().size();
        patterns = 0;
        for (const auto& provider : engine.compiledProviders()) {
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
