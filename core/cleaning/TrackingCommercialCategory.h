// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/TrackingImpactLevel.h"

#include <array>
#include <optional>
#include <string_view>

namespace tessaril {

// What removed tracking was for, in commercial terms. The raw value is the display text, the
// identifier and the JSON form.
enum class TrackingCommercialCategory {
    directCommercialAttribution,
    adPlatformAttribution,
    campaignAnalytics,
    behavioralCorrelation,
    redirectTracking
};

inline constexpr std::array<TrackingCommercialCategory, 5> kAllTrackingCommercialCategories = {
    TrackingCommercialCategory::directCommercialAttribution, TrackingCommercialCategory::adPlatformAttribution,
    TrackingCommercialCategory::campaignAnalytics, TrackingCommercialCategory::behavioralCorrelation,
    TrackingCommercialCategory::redirectTracking};

[[nodiscard]] std::string_view rawValue(TrackingCommercialCategory category);
[[nodiscard]] std::optional<TrackingCommercialCategory> trackingCommercialCategoryFromRawValue(std::string_view raw);
// How much this purpose weighs in the impact score: money changing hands weighs most.
[[nodiscard]] int weight(TrackingCommercialCategory category);
[[nodiscard]] TrackingImpactConfidence defaultConfidence(TrackingCommercialCategory category);
// One sentence for the user about what this kind of tracking does.
[[nodiscard]] std::string_view explanation(TrackingCommercialCategory category);

}  // namespace tessaril
