// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/TrackingImpactLevel.h"
#include "core/guard/CommandRiskSeverity.h"

#include <array>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// One line of a snapshot as people read it: "Category", "Analytics", 3.
struct StatsRow {
    std::string_view section;
    std::string_view label;
    std::int64_t count = 0;
};

// The counts of one statistics window. The tracker's snapshots hold every category, severity,
// impact level and confidence in their maps, 0 for those that never occurred.
struct StatsSnapshot {
    // The order impact levels and confidences are listed in: lowest band first, surest first.
    static constexpr std::array<TrackingImpactLevel, 5> impactOrder = {
        TrackingImpactLevel::negligible, TrackingImpactLevel::low, TrackingImpactLevel::medium,
        TrackingImpactLevel::high, TrackingImpactLevel::veryHigh};
    static constexpr std::array<TrackingImpactConfidence, 3> confidenceOrder = {
        TrackingImpactConfidence::high, TrackingImpactConfidence::medium, TrackingImpactConfidence::low};

    std::int64_t totalCleaned = 0;
    std::int64_t totalCommandWarnings = 0;
    std::int64_t neutralizedCommands = 0;
    std::map<RuleCategoryType, std::int64_t> categoryStats;
    std::map<CommandRiskSeverity, std::int64_t> commandSeverityStats;
    std::map<TrackingImpactLevel, std::int64_t> impactStats;
    std::map<TrackingImpactConfidence, std::int64_t> confidenceStats;

    bool operator==(const StatsSnapshot&) const = default;

    // Every case of every map at 0.
    [[nodiscard]] static StatsSnapshot zero();

    // The 22 rows of the export, in its order: "Overview" (Total URLs Cleaned), "Command Guard"
    // (Warnings, Neutralized, then each severity), "Category", "Impact", "Confidence". A case
    // missing from a map counts 0.
    [[nodiscard]] std::vector<StatsRow> rows() const;

    // The fields under their names in declaration order; each map as an object from raw value to
    // count, in the enumeration's order.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
};

}  // namespace tessaril
