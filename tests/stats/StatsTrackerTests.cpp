// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stats/StatsTracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <numeric>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/cleaning/CleanResult.h"
#include "core/foundation/Dates.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/guard/CommandRiskResult.h"
#include "tests/support/CaseTable.h"

namespace tessaril {
namespace {

// "2026-06-30T12:00" in UTC.
Date at(std::string_view minute) {
    const auto date = parseInternetDateTime(std::string(minute) + ":00Z");
    EXPECT_TRUE(date.has_value()) << minute;
    return date.value_or(Date{});
}

CleanResult cleanOf(RuleCategorySet categories, std::int64_t paramsRemoved) {
    CleanResult result;
    result.originalURL = "https://example.com/?utm_source=x";
    result.cleanedURL = paramsRemoved > 0 ? "https://example.com/" : result.originalURL;
    result.paramsRemoved = paramsRemoved;
    result.matchedCategories = categories;
    return result;
}

class StatsTrackerTest : public ::testing::Test {
protected:
    // The date keys of the stored bucket document.
    std::set<std::string> storedBucketKeys() const {
        const auto document = nlohmann::json::parse(*defaults.dataText(StatsTracker::dailyBucketsKey));
        std::set<std::string> keys;
        for (const auto& [key, bucket] : document.items())
            keys.insert(key);
        return keys;
    }

    InMemoryUserDefaults defaults;
    SettableClock clock{at("2026-06-30T12:00"), "UTC"};
};

TEST_F(StatsTrackerTest, WindowsCountCalendarDaysAcrossMidnightAndDaylightSaving) {
    const auto cases = testing::readCases("stats/calendar-windows.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        SCOPED_TRACE(row[0].get<std::string>());
        InMemoryUserDefaults store;
        clock.setTimeZoneIdentifier(row[1].get<std::string>());
        clock.setNow(at(row[2][0].get<std::string>()));
        StatsTracker tracker(store, clock);
        for (const auto& when : row[2]) {
            clock.setNow(at(when.get<std::string>()));
            tracker.recordClean(cleanOf({RuleCategoryType::analytics}, 1));
        }
        clock.setNow(at(row[3].get<std::string>()));
        EXPECT_EQ(tracker.snapshot(StatsWindow::today).totalCleaned, row[4][0]);
        EXPECT_EQ(tracker.snapshot(StatsWindow::sevenDays).totalCleaned, row[4][1]);
        EXPECT_EQ(tracker.snapshot(StatsWindow::thirtyDays).categoryStats.at(RuleCategoryType::analytics), row[4][2]);
        EXPECT_EQ(tracker.snapshot(StatsWindow::allTime).totalCleaned, static_cast<std::int64_t>(row[2].size()));
    }
}

// 35 calendar days are kept, counted back from the clock's today.
TEST_F(StatsTrackerTest, BucketsOutsideTheKeptDaysAreDroppedAndTheStoreRewritten) {
    defaults.setDataText(StatsTracker::dailyBucketsKey,
                         R"({"2026-05-27": {"dateKey": "2026-05-27", "totalCleaned": 4},
                             "2026-05-26": {"dateKey": "2026-05-26", "totalCleaned": 8},
                             "2026-07-01": {"dateKey": "2026-07-01", "totalCleaned": 16}})");
    StatsTracker tracker(defaults, clock);
    EXPECT_EQ(storedBucketKeys(), (std::set<std::string>{"2026-05-27"}));
    EXPECT_EQ(tracker.snapshot(StatsWindow::thirtyDays).totalCleaned, 0);
    // A day later the oldest kept day is the 36th, and goes at the recording.
    clock.setNow(at("2026-07-01T08:00"));
    tracker.recordCommandRisk(CommandRiskResult{}, false);
    EXPECT_EQ(storedBucketKeys(), (std::set<std::string>{"2026-07-01"}));
}

// What damaged stored counts read as. (That loading never throws, and that the next recording
// counts one more and writes a store that loads back to what the tracker shows, whatever the store
// holds, is fuzz/StatsStoreFuzzer.cpp's.)
TEST_F(StatsTrackerTest, DamagedStoredCountsLoadAsDocumented) {
    const auto cases = testing::readCases("stats/damaged-counts.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        SCOPED_TRACE(row[0].get<std::string>());
        const std::string held = row[2];
        const bool total = row[1] == "total";
        InMemoryUserDefaults store;
        store.set(total ? StatsTracker::totalKey : StatsTracker::dailyBucketsKey,
                  total ? DefaultsValue(held) : DefaultsValue(Bytes(held.begin(), held.end())));
        StatsTracker tracker(store, clock);
        EXPECT_EQ(tracker.snapshot(StatsWindow::allTime).totalCleaned, row[3]);
        EXPECT_EQ(tracker.snapshot(StatsWindow::today).totalCleaned, row[4]);
    }
}

// Categories count once per clean whatever number of their parameters went; every clean counts
// one impact level and one confidence, with or without categories; the switch stops counting and
// keeps what was counted.
TEST_F(StatsTrackerTest, RecordingCountsEachCategoryOncePerCleanAndOneBandPerClean) {
    StatsTracker tracker(defaults, clock);
    int changes = 0;
    const auto connection = tracker.changed().connect([&changes] { ++changes; });
    CommandRiskResult danger;
    danger.severity = CommandRiskSeverity::danger;
    tracker.recordClean(cleanOf({RuleCategoryType::socialMedia, RuleCategoryType::advertising}, 5));
    tracker.recordClean(cleanOf({}, 0));
    tracker.recordClean(cleanOf({RuleCategoryType::socialMedia}, 1));
    tracker.recordCommandRisk(danger, true);
    tracker.recordCommandRisk(CommandRiskResult{}, false);
    tracker.setCollectionEnabled(false);
    tracker.recordClean(cleanOf({RuleCategoryType::socialMedia}, 1));
    tracker.recordCommandRisk(danger, true);
    EXPECT_EQ(changes, 6);

    const StatsSnapshot counts = tracker.snapshot(StatsWindow::allTime);
    const auto sum = [](const auto& map) {
        return std::accumulate(map.begin(), map.end(), std::int64_t{0}, [](auto n, auto& e) { return n + e.second; });
    };
    EXPECT_EQ(
        std::vector<std::int64_t>({counts.totalCleaned, counts.categoryStats.at(RuleCategoryType::socialMedia),
                                   counts.categoryStats.at(RuleCategoryType::advertising), sum(counts.categoryStats),
                                   sum(counts.impactStats), sum(counts.confidenceStats)}),
        std::vector<std::int64_t>({3, 2, 1, 3, 3, 3}));
    EXPECT_EQ(std::vector<std::int64_t>({counts.totalCommandWarnings, counts.neutralizedCommands,
                                         counts.commandSeverityStats.at(CommandRiskSeverity::danger),
                                         counts.commandSeverityStats.at(CommandRiskSeverity::warning)}),
              std::vector<std::int64_t>({2, 1, 1, 1}));
    for (StatsWindow window : kAllStatsWindows)
        EXPECT_EQ(tracker.snapshot(window), counts) << rawValue(window);
    EXPECT_EQ(StatsTracker(defaults, clock).snapshot(StatsWindow::allTime), counts);
    EXPECT_EQ(defaults.intValue("stats_category_Social Media"), 2);

    tracker.setCollectionEnabled(true);
    tracker.recordClean(cleanOf({}, 0));
    EXPECT_EQ(tracker.snapshot(StatsWindow::today).totalCleaned, 4);
}

// The export of a fresh installation, and reset bringing it back while the switch stays as it was.
TEST_F(StatsTrackerTest, ExportOfAFreshInstallationAndReset) {
    StatsTracker tracker(defaults, clock);
    const std::string fresh = tracker.exportCSV();
    // The last line has no line feed (the fuzzer counts the 89 lines).
    EXPECT_TRUE(fresh.starts_with("Window,Section,Label,Count\nToday,Overview,Total URLs Cleaned,0\n")) << fresh;
    EXPECT_TRUE(fresh.ends_with("\nAll Time,Confidence,Low,0")) << fresh;

    tracker.recordClean(cleanOf({RuleCategoryType::custom}, 1));
    tracker.recordCommandRisk(CommandRiskResult{}, true);
    EXPECT_NE(tracker.exportCSV().find("\n30 Days,Category,Custom,1\n"), std::string::npos);
    tracker.setCollectionEnabled(false);
    tracker.resetStats();
    EXPECT_EQ(tracker.exportCSV(), fresh);
    EXPECT_EQ(StatsTracker(defaults, clock).exportCSV(), fresh);
    EXPECT_FALSE(StatsTracker::isCollectionEnabled(defaults));
}

}  // namespace
}  // namespace tessaril
