// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

namespace tessaril {

// How much a clean mattered, from negligible to very high. Declaration order is the band order.
// The raw values are the display texts and the JSON form; statistics count cleans by them.
enum class TrackingImpactLevel { negligible, low, medium, high, veryHigh };

// How sure the impact judgement is.
enum class TrackingImpactConfidence { low, medium, high };

[[nodiscard]] std::string_view rawValue(TrackingImpactLevel level);
[[nodiscard]] std::optional<TrackingImpactLevel> trackingImpactLevelFromRawValue(std::string_view raw);
[[nodiscard]] std::string_view rawValue(TrackingImpactConfidence confidence);
[[nodiscard]] std::optional<TrackingImpactConfidence> trackingImpactConfidenceFromRawValue(std::string_view raw);

}  // namespace tessaril
