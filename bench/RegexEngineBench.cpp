// SPDX-License-Identifier: GPL-3.0-or-later
// The pattern work of cleaning, per link of the benchmark corpus, done by the engine's own automata
// and fragment index and by RE2 in two designs (see Re2LinkRules.h; ICU for what RE2 rejects), on
// the shipped rules; and what loading the link patterns costs either way. With --check, instead
// of timing, every answer of the two over the whole corpus is compared and the differences listed,
// with the heap each side holds. docs/decisions/regex-engine.md has the figures.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <utility>

#include "bench/LinkPatternWork.h"
#include "bench/RegexEngineCheck.h"
#include "bench/RegexEngineFixtures.h"

namespace tessaril::bench {
namespace {

void perLinkCounter(benchmark::State& state) {
    state.counters["per_link"] =
        benchmark::Counter(static_cast<double>(links().size()),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void engineWork(benchmark::State& state, unsigned parts) {
    const RulesEngine* rules = engine();
    if (rules == nullptr || links().empty()) {
        state.SkipWithError("shipped rules or benchmark corpus not found");
        return;
    }
    EngineWork work(*rules);
    Tally tally;
    // Both sides build their automata lazily: one untimed pass first, so that runs of one iteration
    // are not those of a cold start.
    for (const auto& link : links())
        work.run(link, parts, tally);
    for (auto _ : state) {
        for (const auto& link : links())
            work.run(link, parts, tally);
        benchmark::DoNotOptimize(tally.value);
    }
    perLinkCounter(state);
}

void re2Work(benchmark::State& state, const Variant* variant, unsigned parts) {
    const Re2LinkRules* rules = re2Rules(*variant);
    if (rules == nullptr || links().empty() || engine() == nullptr || !sameProviders(*engine(), *rules)) {
        state.SkipWithError("shipped rules or benchmark corpus not found, or the providers differ");
        return;
    }
    Re2Work work(*rules);
    Tally tally;
    for (const auto& link : links())
        work.run(link, parts, tally);
    for (auto _ : state) {
        for (const auto& link : links())
            work.run(link, parts, tally);
        benchmark::DoNotOptimize(tally.value);
    }
    perLinkCounter(state);
    if (variant->design == Re2LinkRules::Design::filtered) {
        state.counters["atoms"] = static_cast<double>(rules->atomCount());
        state.counters["unfiltered"] = static_cast<double>(rules->unfilteredCount());
    }
    state.counters["icu_fallbacks"] = static_cast<double>(rules->rejected().size());
}

void registerWork() {
    const std::pair<const char*, unsigned> parts[] = {{"select", kSelectOnly},
                                                      {"select+redirections", kRedirections},
                                                      {"select+pathRules", kPathRules},
                                                      {"select+exceptions", kExceptions},
                                                      {"all", kAllParts}};
    for (const auto& [name, bits] : parts) {
        benchmark::RegisterBenchmark((std::string("engine/") + name).c_str(), engineWork, bits)
            ->Unit(benchmark::kMillisecond);
        for (const Variant& variant : kVariants) {
            benchmark::RegisterBenchmark((std::string(variant.name) + "/" + name).c_str(), re2Work, &variant, bits)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

// The automata alone: the expression runs the engine makes over the corpus, replayed on its own
// automata and on RE2 (see EngineCalls.h).
void replay(benchmark::State& state, bool re2, unsigned kinds) {
    const EngineCalls* calls = engineCalls();
    if (calls == nullptr) {
        state.SkipWithError("shipped rules or benchmark corpus not found");
        return;
    }
    const auto run = [&] { return re2 ? calls->replayRe2(kinds) : calls->replayOurs(kinds); };
    benchmark::DoNotOptimize(run());
    for (auto _ : state)
        benchmark::DoNotOptimize(run());
    perLinkCounter(state);
}

void registerReplays() {
    const std::pair<const char*, unsigned> kinds[] = {
        {"urlSearches", 1U << EngineCalls::urlSearch},
        {"exceptionSearches", 1U << EngineCalls::exceptionSearch},
        {"redirections", 1U << EngineCalls::redirection},
        {"pathRules", 1U << EngineCalls::pathRule},
        {"all", (1U << EngineCalls::urlSearch) | (1U << EngineCalls::exceptionSearch) |
                    (1U << EngineCalls::redirection) | (1U << EngineCalls::pathRule)}};
    for (const auto& [name, bits] : kinds) {
        for (const bool re2 : {false, true}) {
            benchmark::RegisterBenchmark((std::string(re2 ? "automata.re2/" : "automata.engine/") + name).c_str(),
                                         replay, re2, bits)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

// Loading: the engine's whole load of the shipped files; the part of it that RE2 would replace
// (EngineLinkPatterns); and RE2's counterpart. Both parts include decoding the files.
void loadEngine(benchmark::State& state) {
    const RuleFiles* files = ruleFiles();
    if (files == nullptr) {
        state.SkipWithError("shipped rules not found");
        return;
    }
    for (auto _ : state) {
        LoadedEngine loaded;
        benchmark::DoNotOptimize(loaded.engine.loadRuleBundle(files->main, std::string_view(files->supplementary)));
    }
}

void loadEngineLinkPatterns(benchmark::State& state) {
    const RuleFiles* files = ruleFiles();
    if (files == nullptr) {
        state.SkipWithError("shipped rules not found");
        return;
    }
    for (auto _ : state) {
        EngineLinkPatterns patterns(*files);
        benchmark::DoNotOptimize(patterns.regexes.data());
    }
}

void loadRe2LinkPatterns(benchmark::State& state, const Variant* variant) {
    const RuleFiles* files = ruleFiles();
    if (files == nullptr) {
        state.SkipWithError("shipped rules not found");
        return;
    }
    for (auto _ : state) {
        Re2LinkRules rules(decodedProviders(*files), variant->design, variant->minAtomLen);
        benchmark::DoNotOptimize(rules.atomCount());
    }
}

void registerLoads() {
    benchmark::RegisterBenchmark("load/engine", loadEngine)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("load/engineLinkPatterns", loadEngineLinkPatterns)->Unit(benchmark::kMillisecond);
    for (const Variant& variant : kVariants) {
        benchmark::RegisterBenchmark((std::string("load/") + variant.name).c_str(), loadRe2LinkPatterns, &variant)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace
}  // namespace tessaril::bench

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) return tessaril::bench::runRegexEngineCheck();
    }
    tessaril::bench::registerWork();
    tessaril::bench::registerReplays();
    tessaril::bench::registerLoads();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
