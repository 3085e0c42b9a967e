// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stats/StatsTracker.h"

#include "core/cleaning/CleanResult.h"
#include "core/cleaning/TrackingImpactAnalyzer.h"
#include "core/foundation/Dates.h"
#include "core/guard/CommandRiskResult.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

namespace tessaril {

namespace {

// Stored counts are whatever the store held, so sums stop at the ends of the range instead of
// overflowing.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

void countOne(std::int64_t& count) {
    count = saturatingAdd(count, 1);
}

std::string keyFor(std::string_view prefix, std::string_view label) {
    std::string key(prefix);
    key += label;
    return key;
}

// Adds a bucket's counts to every case of `into`, by raw value.
template <typename Key>
void addCounts(std::map<Key, std::int64_t>& into, const DailyStatsBucket::Counts& from) {
    for (auto& [key, count] : into) {
        const auto found = from.find(rawValue(key));
        if (found != from.end()) count = saturatingAdd(count, found->second);
    }
}

// Calls visit(key, count) for every lifetime counter of `counts`.
template <typename Visit>
void forEachCounter(StatsSnapshot& counts, const Visit& visit) {
    visit(StatsTracker::totalKey, counts.totalCleaned);
    visit(StatsTracker::commandWarningsKey, counts.totalCommandWarnings);
    visit(StatsTracker::neutralizedCommandsKey, counts.neutralizedCommands);
    for (auto& [type, count] : counts.categoryStats)
        visit(keyFor(StatsTracker::categoryPrefix, rawValue(type)), count);
    for (auto& [severity, count] : counts.commandSeverityStats)
        visit(keyFor(StatsTracker::commandSeverityPrefix, rawValue(severity)), count);
    for (auto& [level, count] : counts.impactStats)
        visit(keyFor(StatsTracker::impactPrefix, rawValue(level)), count);
    for (auto& [confidence, count] : counts.confidenceStats)
        visit(keyFor(StatsTracker::confidencePrefix, rawValue(confidence)), count);
}

// The whole document or nothing: one bucket that does not decode makes all of them unreadable.
StatsTracker::Buckets decodeBuckets(const std::optional<std::string>& text) {
    if (!text) return {};
    const auto json = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) return {};
    StatsTracker::Buckets buckets;
    for (const auto& [key, value] : json.items()) {
        auto bucket = DailyStatsBucket::fromJson(value);
        if (!bucket) return {};
        buckets.emplace(key, std::move(*bucket));
    }
    return buckets;
}

int daysIn(StatsWindow window) {
    switch (window) {
        case StatsWindow::today:
            return 1;
        case StatsWindow::sevenDays:
            return 7;
        case StatsWindow::thirtyDays:
            return 30;
        case StatsWindow::allTime:
            break;
    }
    return 0;
}

}  // namespace

StatsTracker::StatsTracker(UserDefaults& defaults, const Clock& clock) : defaults_(defaults), clock_(clock) {
    load();
}

bool StatsTracker::isCollectionEnabled(const UserDefaults& defaults) {
    // A value of another type is treated like no value.
    return defaults.boolValue(statsCollectionEnabledKey).value_or(true);
}

void StatsTracker::setCollectionEnabled(bool enabled) {
    defaults_.set(statsCollectionEnabledKey, enabled);
    changed_.emit();
}

std::string StatsTracker::dateKey(Date date) const {
    return formatDay(date, clock_.timeZoneIdentifier());
}

std::vector<std::string> StatsTracker::recentDateKeys(int days) const {
    std::vector<std::string> keys;
    if (days < 1) return keys;
    const auto today = localDay(clock_.now(), clock_.timeZoneIdentifier());
    keys.reserve(static_cast<std::size_t>(days));
    for (int back = 0; back < days; ++back)
        keys.push_back(formatDay(today - std::chrono::days(back)));
    return keys;
}

void StatsTracker::load() {
    lifetime_ = StatsSnapshot::zero();
    forEachCounter(lifetime_,
                   [this](std::string_view key, std::int64_t& count) { count = defaults_.intValue(key).value_or(0); });
    dailyBuckets_ = decodeBuckets(defaults_.dataText(dailyBucketsKey));
    if (dropOldBuckets(recentDateKeys(retentionDays))) saveDailyBuckets();
}

bool StatsTracker::dropOldBuckets(const std::vector<std::string>& kept) {
    return std::erase_if(dailyBuckets_, [&kept](const auto& entry) {
               return std::find(kept.begin(), kept.end(), entry.first) == kept.end();
           }) > 0;
}

void StatsTracker::saveDailyBuckets() {
    auto json = nlohmann::ordered_json::object();
    for (const auto& [key, bucket] : dailyBuckets_)
        json[key] = bucket.toJson();
    // Every text in it is a decoded JSON string or our own ASCII, so it always encodes.
    defaults_.setDataText(dailyBucketsKey, json.dump());
}

DailyStatsBucket& StatsTracker::todaysBucket() {
    const auto kept = recentDateKeys(retentionDays);
    dropOldBuckets(kept);
    const std::string& today = kept.front();
    auto [entry, added] = dailyBuckets_.try_emplace(today);
    if (added) entry->second.dateKey = today;
    return entry->second;
}

void StatsTracker::countOneAndStore(std::int64_t& count, std::string_view key) {
    countOne(count);
    defaults_.set(key, count);
}

void StatsTracker::recordClean(const CleanResult& result) {
    if (!isCollectionEnabled()) return;
    const TrackingImpactReport report = TrackingImpactAnalyzer::analyze(result);

    countOneAndStore(lifetime_.totalCleaned, totalKey);
    for (RuleCategoryType type : result.matchedCategories)
        countOneAndStore(lifetime_.categoryStats[type], keyFor(categoryPrefix, rawValue(type)));
    countOneAndStore(lifetime_.impactStats[report.impactLevel], keyFor(impactPrefix, rawValue(report.impactLevel)));
    countOneAndStore(lifetime_.confidenceStats[report.confidence],
                     keyFor(confidencePrefix, rawValue(report.confidence)));

    DailyStatsBucket& bucket = todaysBucket();
    countOne(bucket.totalCleaned);
    for (RuleCategoryType type : result.matchedCategories)
        countOne(bucket.categoryStats[std::string(rawValue(type))]);
    countOne(bucket.impactStats[std::string(rawValue(report.impactLevel))]);
    countOne(bucket.confidenceStats[std::string(rawValue(report.confidence))]);
    saveDailyBuckets();
    changed_.emit();
}

void StatsTracker::recordCommandRisk(const CommandRiskResult& result, bool neutralized) {
    if (!isCollectionEnabled()) return;
    countOneAndStore(lifetime_.totalCommandWarnings, commandWarningsKey);
    if (neutralized) countOneAndStore(lifetime_.neutralizedCommands, neutralizedCommandsKey);
    countOneAndStore(lifetime_.commandSeverityStats[result.severity],
                     keyFor(commandSeverityPrefix, rawValue(result.severity)));

    DailyStatsBucket& bucket = todaysBucket();
    countOne(bucket.totalCommandWarnings);
    if (neutralized) countOne(bucket.neutralizedCommands);
    countOne(bucket.commandSeverityStats[std::string(rawValue(result.severity))]);
    saveDailyBuckets();
    changed_.emit();
}

StatsSnapshot StatsTracker::snapshot(StatsWindow window) const {
    if (window == StatsWindow::allTime) return lifetime_;
    StatsSnapshot total = StatsSnapshot::zero();
    for (const auto& key : recentDateKeys(daysIn(window))) {
        const auto found = dailyBuckets_.find(key);
        if (found == dailyBuckets_.end()) continue;
        const DailyStatsBucket& bucket = found->second;
        total.totalCleaned = saturatingAdd(total.totalCleaned, bucket.totalCleaned);
        total.totalCommandWarnings = saturatingAdd(total.totalCommandWarnings, bucket.totalCommandWarnings);
        total.neutralizedCommands = saturatingAdd(total.neutralizedCommands, bucket.neutralizedCommands);
        addCounts(total.categoryStats, bucket.categoryStats);
        addCounts(total.commandSeverityStats, bucket.commandSeverityStats);
        addCounts(total.impactStats, bucket.impactStats);
        addCounts(total.confidenceStats, bucket.confidenceStats);
    }
    return total;
}

std::string StatsTracker::exportCSV() const {
    std::string csv = "Window,Section,Label,Count";
    for (StatsWindow window : kAllStatsWindows) {
        for (const StatsRow& row : snapshot(window).rows()) {
            csv += '\n';
            csv += rawValue(window);
            csv += ',';
            csv += row.section;
            csv += ',';
            csv += row.label;
            csv += ',';
            csv += std::to_string(row.count);
        }
    }
    return csv;
}

void StatsTracker::resetStats() {
    lifetime_ = StatsSnapshot::zero();
    forEachCounter(lifetime_, [this](std::string_view key, std::int64_t&) { defaults_.remove(key); });
    dailyBuckets_.clear();
    defaults_.remove(dailyBucketsKey);
    changed_.emit();
}

void StatsTracker::refresh() {
    load();
    changed_.emit();
}

}  // namespace tessaril
