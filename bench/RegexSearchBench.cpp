// SPDX-License-Identifier: GPL-3.0-or-later
// Regex::search is the cleaner's innermost step: every provider's host pattern against the link, and
// whole-name rules against parameter names; Regex::firstMatch takes the target out of a redirect
// wrapper. Each case runs twice, answered by the fast path (the product's) and by ICU alone, on the
// patterns as the rule files ship them.
#include <benchmark/benchmark.h>

#include "core/foundation/Regex.h"

namespace tessaril {
namespace {

constexpr const char* kHostPattern = R"(^https?:\/\/(?:[a-z0-9-]+\.)*?amazon(?:\.[a-z]{2,}){1,})";
constexpr const char* kNameRule = R"(^(?:%3F)?utm(?:_[a-z_]*)?$)";
constexpr const char* kRedirection =
    R"(^https?:\/\/(?:[a-z0-9-]+\.)*?google(?:\.[a-z]{2,}){1,}\/url\?.*?(?:url|q)=(https?[^&]+))";
constexpr const char* kWrapperLink =
    "https://www.google.com/url?sa=t&rct=j&q=&esrc=s&source=web&cd=1&ved=2ahUKEwiK7s&url=https%3A%2F%2Fwww."
    "example.com%2Farticle%3Fid%3D42&usg=AOvVaw3x";

void regexSearch(benchmark::State& state, const char* pattern, const char* text, bool expected, bool fastPath) {
    auto regex = Regex::compile(pattern, true);
    if (!regex) {
        state.SkipWithError("the pattern does not compile");
        return;
    }
    regex->setWorkLimit(200);
    regex->setFastPathEnabled(fastPath);
    if (regex->search(text) != expected) {
        state.SkipWithError("unexpected answer");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(regex->search(text));
}

// A product link for the host pattern, a link of another site (what most host patterns see), and a
// tracking parameter's name for a whole-name rule.
BENCHMARK_CAPTURE(regexSearch, hostPatternItsLink_dfa, kHostPattern,
                  "https://www.amazon.com/dp/B0CX23V2ZK/ref=sr_1_3?tag=deals-20&keywords=usb+cable", true, true);
BENCHMARK_CAPTURE(regexSearch, hostPatternItsLink_icu, kHostPattern,
                  "https://www.amazon.com/dp/B0CX23V2ZK/ref=sr_1_3?tag=deals-20&keywords=usb+cable", true, false);
BENCHMARK_CAPTURE(regexSearch, hostPatternOtherLink_dfa, kHostPattern,
                  "https://www.youtube.com/watch?v=YV6WYw-9kWT&list=PLHF7G1w45DK6UFouSk6r6t9TGHPLtnG7N", false, true);
BENCHMARK_CAPTURE(regexSearch, hostPatternOtherLink_icu, kHostPattern,
                  "https://www.youtube.com/watch?v=YV6WYw-9kWT&list=PLHF7G1w45DK6UFouSk6r6t9TGHPLtnG7N", false, false);
BENCHMARK_CAPTURE(regexSearch, nameRule_dfa, kNameRule, "utm_source", true, true);
BENCHMARK_CAPTURE(regexSearch, nameRule_icu, kNameRule, "utm_source", true, false);

void regexFirstMatch(benchmark::State& state, bool fastPath) {
    auto regex = Regex::compile(kRedirection, true);
    if (!regex) {
        state.SkipWithError("the pattern does not compile");
        return;
    }
    regex->setWorkLimit(200);
    regex->setFastPathEnabled(fastPath);
    const auto match = regex->firstMatch(kWrapperLink);
    if (!match || match->groups.size() != 1 || !match->groups[0]) {
        state.SkipWithError("no target found");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(regex->firstMatch(kWrapperLink));
}

// The target of a wrapper link, as unwrapping takes it.
BENCHMARK_CAPTURE(regexFirstMatch, wrapperLink_backtracker, true);
BENCHMARK_CAPTURE(regexFirstMatch, wrapperLink_icu, false);

}  // namespace
}  // namespace tessaril
