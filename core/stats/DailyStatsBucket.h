// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// One calendar day's counts. The maps go from a category's, severity's, impact level's or
// confidence's raw value to its count, and hold only what occurred that day.
struct DailyStatsBucket {
    using Counts = std::map<std::string, std::int64_t, std::less<>>;

    // "yyyy-MM-dd" in the user's time zone.
    std::string dateKey;
    std::int64_t totalCleaned = 0;
    std::int64_t totalCommandWarnings = 0;
    std::int64_t neutralizedCommands = 0;
    Counts categoryStats;
    Counts commandSeverityStats;
    Counts impactStats;
    Counts confidenceStats;

    bool operator==(const DailyStatsBucket&) const = default;

    // The fields under their names in declaration order.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // "dateKey" is required as a string; every other key may be missing (or null) and then reads as
    // 0 or empty. A value of the wrong type, a fraction or a number beyond 64 bits fails the bucket.
    [[nodiscard]] static std::optional<DailyStatsBucket> fromJson(const nlohmann::json& json);
};

}  // namespace tessaril
