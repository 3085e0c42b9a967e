// SPDX-License-Identifier: GPL-3.0-or-later
// The clipboard loop polls twice a second for as long as the application runs: the cost of a poll
// that finds nothing new (nearly all of them), and of one that finds a copied tracked link and
// cleans it, writes it back, remembers and counts it. Test rules and an in-memory clipboard and
// preferences, so what is measured is the loop's own work and the cleaning, not a desktop's.
#include <benchmark/benchmark.h>

#include "core/notifications/NotificationManager.h"
#include "tests/support/MonitorHarness.h"

namespace tessaril {
namespace {

void clipboardMonitorIdleTick(benchmark::State& state) {
    testing::MonitorHarness h;
    h.start();
    for (auto _ : state)
        h.executor.fireTimers();
}
BENCHMARK(clipboardMonitorIdleTick)->Unit(benchmark::kNanosecond);

void clipboardMonitorTickCleaningATrackedLink(benchmark::State& state) {
    testing::MonitorHarness h;
    // Banners would pile up in the recording notifier.
    h.notifications.setEnabled(false);
    auto& monitor = h.start();
    for (auto _ : state)
        h.copy("https://news.example/article?id=7&utm_source=newsletter&utm_medium=email&fbclid=abc");
    if (monitor.cleanedCountToday() != static_cast<std::int64_t>(state.iterations()))
        state.SkipWithError("the link was not cleaned on every tick");
}
BENCHMARK(clipboardMonitorTickCleaningATrackedLink)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaril
