// SPDX-License-Identifier: GPL-3.0-or-later
// The pattern work of cleaning, per link of the benchmark corpus, done by the engine's own automata
// and fragment index and by RE2 in a few designs (see Re2LinkRules.h), on the shipped rules; and what
// loading the link patterns costs either way. docs/decisions/regex-engine.md has the figures.
//   --check       instead of timing, compare every answer of the two over the corpus, list the
//                 differences and print the heap each side holds
//   --pass SIDE   one pass of SIDE (engine, or a variant's name) over the corpus, in onePass, for
//                 counting instructions: valgrind --tool=callgrind --toggle-collect='*onePass*'
//   --lines N     only the first N lines of the corpus
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "bench/LinkPatternWork.h"
#include "bench/RegexEngineCheck.h"
#include "bench/RegexEngineFixtures.h"

namespace tessaril::bench {
namespace {

template <typename Work>
[[gnu::noinline]] std::size_t onePass(Work& work) {
    Tally tally;
    for (const auto& link : links())
        work.run(link, tally);
    return tally.value;
}

template <typename Work>
void timePasses(benchmark::State& state, Work work) {
    // Both sides build automaton states lazily: one untimed pass first, so that runs of one iteration
    // are not those of a cold start.
    benchmark::DoNotOptimize(onePass(work));
    for (auto _ : state)
        benchmark::DoNotOptimize(onePass(work));
    state.counters["per_link"] =
        benchmark::Counter(static_cast<double>(links().size()),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void engineWork(benchmark::State& state) {
    if (engine() == nullptr || links().empty()) {
        state.SkipWithError("shipped rules or benchmark corpus not found");
        return;
    }
    timePasses(state, EngineWork(engine()->matcher()));
}

void re2Work(benchmark::State& state, const Variant* variant) {
    if (engine() == nullptr || links().empty()) {
        state.SkipWithError("shipped rules or benchmark corpus not found");
        return;
    }
    timePasses(state, Re2Work(*re2Rules(*variant)));
}

// Loading: the engine's whole load of the shipped files; the part of it that RE2 would replace; and
// RE2's counterpart, made from the engine's compiled providers.
void loadEngine(benchmark::State& state) {
    if (ruleFiles() == nullptr) {
        state.SkipWithError("shipped rules not found");
        return;
    }
    for (auto _ : state) {
        LoadedEngine loaded;
        benchmark::DoNotOptimize(loaded.load(*ruleFiles()));
        benchmark::DoNotOptimize(&loaded.engine.matcher());
    }
}

void loadEngineLinkPatterns(benchmark::State& state) {
    if (engine() == nullptr) {
        state.SkipWithError("shipped rules not found");
        return;
    }
    for (auto _ : state) {
        EngineLinkPatterns patterns(engine()->compiledProviders());
        benchmark::DoNotOptimize(patterns.regexes.data());
    }
}

void loadRe2(benchmark::State& state, const Variant* variant) {
    if (engine() == nullptr) {
        state.SkipWithError("shipped rules not found");
        return;
    }
    for (auto _ : state) {
        Re2LinkRules rules(engine()->compiledProviders(), variant->design);
        benchmark::DoNotOptimize(rules.rejected().data());
    }
}

void registerBenchmarks() {
    benchmark::RegisterBenchmark("work/engine", engineWork)->Unit(benchmark::kMillisecond);
    for (const Variant& variant : kVariants) {
        benchmark::RegisterBenchmark((std::string("work/") + variant.name).c_str(), re2Work, &variant)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("load/engine", loadEngine)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("load/engine.linkPatterns", loadEngineLinkPatterns)->Unit(benchmark::kMillisecond);
    for (const Variant& variant : kVariants) {
        benchmark::RegisterBenchmark((std::string("load/") + variant.name).c_str(), loadRe2, &variant)
            ->Unit(benchmark::kMillisecond);
    }
}

int countedPass(std::string_view side) {
    if (engine() == nullptr || links().empty()) {
        std::cerr << "regex engine bench: shipped rules or benchmark corpus not found\n";
        return 2;
    }
    std::size_t tally = 0;
    if (side == "engine") {
        EngineWork work(engine()->matcher());
        tally = onePass(work);
    } else {
        const Variant* variant = std::find_if(std::begin(kVariants), std::end(kVariants),
                                              [&](const Variant& candidate) { return side == candidate.name; });
        if (variant == std::end(kVariants)) {
            std::cerr << "regex engine bench: no side named " << side << '\n';
            return 2;
        }
        Re2Work work(*re2Rules(*variant));
        tally = onePass(work);
    }
    std::cout << side << ": one pass over " << links().size() << " links (tally " << tally << ")\n";
    return 0;
}

}  // namespace
}  // namespace tessaril::bench

int main(int argc, char** argv) {
    const char* pass = nullptr;
    bool check = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) {
            check = true;
        } else if (std::strcmp(argv[i], "--pass") == 0 && i + 1 < argc) {
            pass = argv[++i];
        } else if (std::strcmp(argv[i], "--lines") == 0 && i + 1 < argc) {
            tessaril::bench::limitCorpusLines(std::strtoul(argv[++i], nullptr, 10));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (check) return tessaril::bench::runRegexEngineCheck();
    if (pass != nullptr) return tessaril::bench::countedPass(pass);
    tessaril::bench::registerBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
