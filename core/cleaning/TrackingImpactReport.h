// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/TrackingCommercialCategory.h"
#include "core/cleaning/TrackingImpactLevel.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// The user-facing judgement of one clean: what the removed tracking was for and how much it mattered.
struct TrackingImpactReport {
    std::int64_t totalSignals = 0;
    // Heaviest purpose first.
    std::vector<TrackingCommercialCategory> categories;
    TrackingImpactLevel impactLevel = TrackingImpactLevel::negligible;
    TrackingImpactConfidence confidence = TrackingImpactConfidence::low;
    std::string summary;
    std::string explanation;

    bool operator==(const TrackingImpactReport&) const = default;

    // The six fields under their names; the enumerations as their raw values.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // Every key is required with its exact type; unknown raw values fail.
    [[nodiscard]] static std::optional<TrackingImpactReport> fromJson(const nlohmann::json& json);
};

}  // namespace tessaril
