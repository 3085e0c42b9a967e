// SPDX-License-Identifier: GPL-3.0-or-later
// The link cleaner parses every copied link and usually drops a parameter or two, so these are the
// two operations to keep cheap.
#include "core/foundation/URLComponents.h"

#include <benchmark/benchmark.h>

#include <string_view>

namespace tessaril {
namespace {

constexpr std::string_view kLinks[] = {
    "https://en.wikipedia.org/wiki/Uniform_Resource_Identifier",
    "https://www.youtube.com/watch?v=YV6WYw-9kWT&list=PLHF7G1w45DK6UFouSk6r6t9TGHPLtnG7N&index=4&utm_source=whatsapp",
    "https://www.amazon.de/dp/B073TZ5ESE?utm_source=newsletter&utm_medium=email&utm_campaign=eye_2021&utm_content=art",
    "https://de.aliexpress.com/item/7292353592767443.html?spm=a2g0o.productlist.main.29.43737942M3oNQ4"
    "&algo_pvid=a43d40d3-554b-576d-0922-9619ea7ce24f&pdp_npi=4%40dis%21USD%2178.58%2170.73%21%21%21",
    "https://日本語.jp/%E2%9C%93/check?q=%E3%81%82#top",
};

void urlComponentsParse(benchmark::State& state) {
    const std::string_view link = kLinks[state.range(0)];
    for (auto _ : state)
        benchmark::DoNotOptimize(URLComponents::parse(link));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * link.size()));
}
BENCHMARK(urlComponentsParse)->DenseRange(0, std::size(kLinks) - 1);

void urlComponentsParseAndSerialise(benchmark::State& state) {
    const std::string_view link = kLinks[state.range(0)];
    for (auto _ : state) {
        auto components = URLComponents::parse(link);
        benchmark::DoNotOptimize(components->string().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * link.size()));
}
BENCHMARK(urlComponentsParseAndSerialise)->DenseRange(0, std::size(kLinks) - 1);

void urlComponentsRemoveOneQueryItem(benchmark::State& state) {
    const std::string_view link = kLinks[state.range(0)];
    for (auto _ : state) {
        auto components = URLComponents::parse(link);
        components->removeQueryItems([](const URLQueryItemView& item) { return item.name == "utm_source"; });
        benchmark::DoNotOptimize(components->string().data());
    }
}
BENCHMARK(urlComponentsRemoveOneQueryItem)->DenseRange(0, std::size(kLinks) - 1);

void urlComponentsDecodedQueryItems(benchmark::State& state) {
    const auto components = URLComponents::parse(kLinks[3]);
    for (auto _ : state)
        benchmark::DoNotOptimize(components->queryItems());
}
BENCHMARK(urlComponentsDecodedQueryItems);

}  // namespace
}  // namespace tessaril
