// SPDX-License-Identifier: GPL-3.0-or-later
// The statistics as the preferences store hands them back, whatever it holds: the daily bucket
// document (first as data, or as text, which is not a document), lifetime counters of any value
// or type, and a clock in one of four zones. Loading never throws; snapshots hold every case and
// the export keeps its shape; only the kept days have buckets; loading twice gives the same
// snapshots; and after one recording the tracker shows one more clean (a count at the top of the
// range stays there), and what it saved loads back to the snapshots it shows.
#include "core/cleaning/CleanResult.h"
#include "core/foundation/Clock.h"
#include "core/foundation/Dates.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/stats/StatsTracker.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace {

using tessaril::StatsSnapshot;
using tessaril::StatsTracker;
using tessaril::StatsWindow;

bool holdsEveryCase(const StatsSnapshot& snapshot) {
    return snapshot.categoryStats.size() == 8 && snapshot.commandSeverityStats.size() == 3 &&
           snapshot.impactStats.size() == 5 && snapshot.confidenceStats.size() == 3;
}

bool sameSnapshots(const StatsTracker& a, const StatsTracker& b) {
    return std::ranges::all_of(tessaril::kAllStatsWindows,
                               [&](StatsWindow window) { return a.snapshot(window) == b.snapshot(window); });
}

std::int64_t oneMore(std::int64_t count) {
    return count == std::numeric_limits<std::int64_t>::max() ? count : count + 1;
}

}  // namespace

// First byte: bit 0 stores the document as text instead of data; bits 1-3 store the next eight
// bytes as the total (an integer), the whole rest as the "Social Media" count (text) and the eight
// bytes as the "Very High" count (a real number); bits 4-5 pick the zone. Then the eight bytes, then
// the document.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return 0;
    const std::uint8_t mode = data[0];
    std::int64_t number = 0;
    std::memcpy(&number, data + 1, sizeof number);
    const std::string document(reinterpret_cast<const char*>(data + 9), size - 9);
    static constexpr std::array<const char*, 4> kZones = {"UTC", "Europe/Berlin", "Pacific/Kiritimati",
                                                          "America/St_Johns"};

    tessaril::InMemoryUserDefaults defaults;
    if ((mode & 1) != 0) {
        defaults.set(StatsTracker::dailyBucketsKey, document);
    } else {
        defaults.setDataText(StatsTracker::dailyBucketsKey, document);
    }
    if ((mode & 2) != 0) defaults.set(StatsTracker::totalKey, number);
    if ((mode & 4) != 0) defaults.set("stats_category_Social Media", document);
    if ((mode & 8) != 0) {
        double real = 0;
        std::memcpy(&real, &number, sizeof real);
        defaults.set("stats_impact_Very High", real);
    }
    const tessaril::SettableClock clock(*tessaril::parseInternetDateTime("2026-06-30T23:30:00Z"),
                                        kZones[(mode >> 4) & 3]);

    StatsTracker tracker(defaults, clock);
    for (StatsWindow window : tessaril::kAllStatsWindows)
        FUZZ_CHECK(holdsEveryCase(tracker.snapshot(window)));
    FUZZ_CHECK(std::ranges::count(tracker.exportCSV(), '\n') == 88);
    const auto kept = tracker.recentDateKeys(StatsTracker::retentionDays);
    for (const auto& [key, bucket] : tracker.dailyBuckets())
        FUZZ_CHECK(std::ranges::find(kept, key) != kept.end());
    FUZZ_CHECK(sameSnapshots(StatsTracker(defaults, clock), tracker));

    const StatsSnapshot before = tracker.snapshot(StatsWindow::today);
    const std::int64_t lifetimeBefore = tracker.snapshot(StatsWindow::allTime).totalCleaned;
    tessaril::CleanResult clean;
    clean.paramsRemoved = 1;
    clean.matchedCategories = {tessaril::RuleCategoryType::socialMedia};
    tracker.recordClean(clean);
    FUZZ_CHECK(tracker.snapshot(StatsWindow::today).totalCleaned == oneMore(before.totalCleaned));
    FUZZ_CHECK(tracker.snapshot(StatsWindow::allTime).totalCleaned == oneMore(lifetimeBefore));
    FUZZ_CHECK(sameSnapshots(StatsTracker(defaults, clock), tracker));
    return 0;
}
