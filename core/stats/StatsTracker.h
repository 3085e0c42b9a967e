// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Clock.h"
#include "core/foundation/Signal.h"
#include "core/foundation/UserDefaults.h"
#include "core/stats/DailyStatsBucket.h"
#include "core/stats/StatsSnapshot.h"
#include "core/stats/StatsWindow.h"

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

struct CleanResult;
struct CommandRiskResult;

// On-device counts of what the product did: links cleaned, the rule categories that matched, the
// impact band and confidence of each clean, Command Guard warnings by severity and
// neutralizations. Lifetime totals are kept under one key per counter; each calendar day of the
// last 35 also has a bucket, from which the daily windows are answered. No link, command or event
// is ever stored. Everything is written through at once, so a crash loses nothing counted.
//
// Loading never fails: a counter of another type reads as 0, and a bucket document that does not
// decode as a whole reads as no buckets; the next recording writes both over. Days come from the
// clock, in its time zone: a clock set back makes later days' buckets fall outside the kept days,
// and they are dropped like old ones. Lives on the main thread.
class StatsTracker {
public:
    static constexpr std::string_view totalKey = "stats_totalCleaned";
    static constexpr std::string_view commandWarningsKey = "stats_commandWarnings";
    static constexpr std::string_view neutralizedCommandsKey = "stats_neutralizedCommands";
    // Followed by a raw value, space included: "stats_category_Social Media", "stats_impact_Very High".
    static constexpr std::string_view categoryPrefix = "stats_category_";
    static constexpr std::string_view commandSeverityPrefix = "stats_commandSeverity_";
    static constexpr std::string_view impactPrefix = "stats_impact_";
    static constexpr std::string_view confidencePrefix = "stats_confidence_";
    // A JSON object from date key to bucket.
    static constexpr std::string_view dailyBucketsKey = "stats_daily_buckets_v1";
    // A Boolean; collection is on while it is absent (or holds another type).
    static constexpr std::string_view statsCollectionEnabledKey = "stats_collection_enabled";

    // More than the longest daily window, so a day leaving it is never missing from it.
    static constexpr int retentionDays = 35;

    using Buckets = std::map<std::string, DailyStatsBucket, std::less<>>;

    // Loads at once; both must outlive the tracker.
    StatsTracker(UserDefaults& defaults, const Clock& clock);
    StatsTracker(const StatsTracker&) = delete;
    StatsTracker& operator=(const StatsTracker&) = delete;

    // Count one cleaned link: its categories once each, however many of their parameters went,
    // and exactly one impact level and one confidence. Nothing while collection is off.
    void recordClean(const CleanResult& result);
    // Count one risky command at its verdict's severity, and whether it was neutralized.
    void recordCommandRisk(const CommandRiskResult& result, bool neutralized);

    [[nodiscard]] StatsSnapshot snapshot(StatsWindow window) const;
    // "Window,Section,Label,Count" and 22 lines for each window: 89 lines joined by line feeds,
    // without one after the last.
    [[nodiscard]] std::string exportCSV() const;
    [[nodiscard]] const Buckets& dailyBuckets() const { return dailyBuckets_; }

    [[nodiscard]] bool isCollectionEnabled() const { return isCollectionEnabled(defaults_); }
    // Stops or resumes counting; what was counted stays.
    void setCollectionEnabled(bool enabled);
    [[nodiscard]] static bool isCollectionEnabled(const UserDefaults& defaults);

    // Every count back to 0 and every stored count removed; the collection switch stays as it is.
    void resetStats();
    // Reads everything again from the store.
    void refresh();

    // Emitted after every change of counts or of the collection switch.
    [[nodiscard]] Signal<>& changed() { return changed_; }

    // "yyyy-MM-dd" of `date` in the clock's time zone.
    [[nodiscard]] std::string dateKey(Date date) const;
    // Today's key and those of the days - 1 calendar days before it, newest first; none below 1.
    [[nodiscard]] std::vector<std::string> recentDateKeys(int days) const;

private:
    void load();
    // Drops the buckets of days not `kept`, and says whether there were any.
    bool dropOldBuckets(const std::vector<std::string>& kept);
    void saveDailyBuckets();
    // Today's bucket, made when there is none yet, after the old ones are dropped.
    DailyStatsBucket& todaysBucket();
    void countOneAndStore(std::int64_t& count, std::string_view key);

    UserDefaults& defaults_;
    const Clock& clock_;
    // The lifetime counts, every case of every map present.
    StatsSnapshot lifetime_;
    Buckets dailyBuckets_;
    Signal<> changed_;
};

}  // namespace tessaril
