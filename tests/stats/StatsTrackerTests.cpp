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

// Windows are calendar days in the user's zone, however long a day is: not rolling 24-hour spans.
TEST_F(StatsTrackerTest, WindowsCountCalendarDaysAcrossMidnightAndDaylightSaving) {
    // Zone, cleans, when the windows are looked at, and what Today, 7 Days and 30 Days show.
    using Case = std::tuple<const char*, const char*, std::vector<const char*>, const char*, std::array<int, 3>>;
    const Case cases[] = {
        // 23:30 and 00:30 in Berlin: after midnight "Today" holds only the new day.
        {"midnight", "Europe/Berlin", {"2026-03-27T22:30", "2026-03-27T23:30"}, "2026-03-28T10:00", {1, 2, 2}},
        // Just after the 23-hour day of the change to summer time, that day is still yesterday.
        {"spring forward", "Europe/Berlin", {"2026-03-29T21:30"}, "2026-03-29T22:30", {0, 1, 1}},
        // Late on the day after the 25-hour day, seven days still reach back six calendar days.
        {"fall back", "Europe/Berlin", {"2026-10-19T10:00", "2026-10-20T10:00"}, "2026-10-26T22:30", {0, 1, 2}},
        {"thirty days", "UTC", {"2026-05-01T23:59", "2026-05-02T00:00"}, "2026-05-31T23:59", {0, 0, 1}},
        // The clock was set back: a day still to come is not a kept one, and its bucket goes.
        {"clock set back", "UTC", {"2026-07-01T08:00", "2026-06-30T23:00"}, "2026-07-01T09:00", {0, 1, 1}},
    };
    for (const auto& [name, zone, cleans, viewedAt, expected] : cases) {
        SCOPED_TRACE(name);
        InMemoryUserDefaults store;
        clock.setTimeZoneIdentifier(zone);
        clock.setNow(at(cleans.front()));
        StatsTracker tracker(store, clock);
        for (const char* when : cleans) {
            clock.setNow(at(when));
            tracker.recordClean(cleanOf({RuleCategoryType::analytics}, 1));
        }
        clock.setNow(at(viewedAt));
        EXPECT_EQ(tracker.snapshot(StatsWindow::today).totalCleaned, expected[0]);
        EXPECT_EQ(tracker.snapshot(StatsWindow::sevenDays).totalCleaned, expected[1]);
        EXPECT_EQ(tracker.snapshot(StatsWindow::thirtyDays).categoryStats.at(RuleCategoryType::analytics), expected[2]);
        EXPECT_EQ(tracker.snapshot(StatsWindow::allTime).totalCleaned, static_cast<std::int64_t>(cleans.size()));
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
    const auto bucketsText = [](std::string_view text) { return DefaultsValue(Bytes(text.begin(), text.end())); };
    // The key, what it holds, and what All Time and Today then show.
    using Case = std::tuple<const char*, std::string_view, DefaultsValue, std::int64_t, std::int64_t>;
    const Case cases[] = {
        {"counter as text", StatsTracker::totalKey, std::string("7"), 0, 0},
        {"buckets not JSON", StatsTracker::dailyBucketsKey, bucketsText("{\"2026-06-30\":"), 0, 0},
        {"only a date key", StatsTracker::dailyBucketsKey, bucketsText(R"({"2026-06-30": {"dateKey": "2026-06-30"}})"),
         0, 0},
        {"nulls and unknown labels", StatsTracker::dailyBucketsKey,
         bucketsText(R"({"2026-06-30": {"dateKey": "x", "totalCleaned": 3, "impactStats": null,
                         "categoryStats": {"Analytics": 2, "Nonsense": 9}}})"),
         0, 3},
        // One bucket that does not decode loses the document: the good one goes with it.
        {"one bad bucket", StatsTracker::dailyBucketsKey,
         bucketsText(R"({"2026-06-30": {"dateKey": "2026-06-30", "totalCleaned": 3},
                         "2026-06-29": {"dateKey": "2026-06-29", "totalCleaned": 1.5}})"),
         0, 0},
        {"bucket without a date key", StatsTracker::dailyBucketsKey,
         bucketsText(R"({"2026-06-30": {"totalCleaned": 3}})"), 0, 0},
    };
    for (const auto& [name, key, value, allTime, today] : cases) {
        SCOPED_TRACE(name);
        InMemoryUserDefaults store;
        store.set(key, value);
        StatsTracker tracker(store, clock);
        EXPECT_EQ(tracker.snapshot(StatsWindow::allTime).totalCleaned, allTime);
        EXPECT_EQ(tracker.snapshot(StatsWindow::today).totalCleaned, today);
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
