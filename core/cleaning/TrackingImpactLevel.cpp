// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/TrackingImpactLevel.h"

namespace tessaril {

std::string_view rawValue(TrackingImpactLevel level) {
    switch (level) {
        case TrackingImpactLevel::negligible:
            return "Negligible";
        case TrackingImpactLevel::low:
            return "Low";
        case TrackingImpactLevel::medium:
            return "Medium";
        case TrackingImpactLevel::high:
            return "High";
        case TrackingImpactLevel::veryHigh:
            return "Very High";
    }
    return "Negligible";
}

std::optional<TrackingImpactLevel> trackingImpactLevelFromRawValue(std::string_view raw) {
    for (auto level : {TrackingImpactLevel::negligible, TrackingImpactLevel::low, TrackingImpactLevel::medium,
                       TrackingImpactLevel::high, TrackingImpactLevel::veryHigh}) {
        if (rawValue(level) == raw) return level;
    }
    return std::nullopt;
}

std::string_view rawValue(TrackingImpactConfidence confidence) {
    switch (confidence) {
        case TrackingImpactConfidence::low:
            return "Low";
        case TrackingImpactConfidence::medium:
            return "Medium";
        case TrackingImpactConfidence::high:
            return "High";
    }
    return "Low";
}

std::optional<TrackingImpactConfidence> trackingImpactConfidenceFromRawValue(std::string_view raw) {
    for (auto confidence :
         {TrackingImpactConfidence::low, TrackingImpactConfidence::medium, TrackingImpactConfidence::high}) {
        if (rawValue(confidence) == raw) return confidence;
    }
    return std::nullopt;
}

}  // namespace tessaril
