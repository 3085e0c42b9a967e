// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/TrackingCommercialCategory.h"

namespace tessaril {

std::string_view rawValue(TrackingCommercialCategory category) {
    switch (category) {
        case TrackingCommercialCategory::directCommercialAttribution:
            return "Direct commercial attribution";
        case TrackingCommercialCategory::adPlatformAttribution:
            return "Ad and social attribution";
        case TrackingCommercialCategory::campaignAnalytics:
            return "Campaign analytics";
        case TrackingCommercialCategory::behavioralCorrelation:
            return "Behavioral correlation";
        case TrackingCommercialCategory::redirectTracking:
            return "Redirect tracking";
    }
    return "Campaign analytics";
}

std::optional<TrackingCommercialCategory> trackingCommercialCategoryFromRawValue(std::string_view raw) {
    for (auto category : kAllTrackingCommercialCategories) {
        if (rawValue(category) == raw) return category;
    }
    return std::nullopt;
}

int weight(TrackingCommercialCategory category) {
    switch (category) {
        case TrackingCommercialCategory::directCommercialAttribution:
            return 5;
        case TrackingCommercialCategory::adPlatformAttribution:
            return 4;
        case TrackingCommercialCategory::campaignAnalytics:
        case TrackingCommercialCategory::behavioralCorrelation:
            return 2;
        case TrackingCommercialCategory::redirectTracking:
            return 3;
    }
    return 0;
}

TrackingImpactConfidence defaultConfidence(TrackingCommercialCategory category) {
    switch (category) {
        case TrackingCommercialCategory::directCommercialAttribution:
        case TrackingCommercialCategory::adPlatformAttribution:
        case TrackingCommercialCategory::campaignAnalytics:
            return TrackingImpactConfidence::high;
        case TrackingCommercialCategory::behavioralCorrelation:
        case TrackingCommercialCategory::redirectTracking:
            return TrackingImpactConfidence::medium;
    }
    return TrackingImpactConfidence::medium;
}

std::string_view explanation(TrackingCommercialCategory category) {
    switch (category) {
        case TrackingCommercialCategory::directCommercialAttribution:
            return "Helps a merchant, affiliate, or partner claim credit for your click or purchase.";
        case TrackingCommercialCategory::adPlatformAttribution:
            return "Helps ad and social platforms connect a click to later behavior or conversions.";
        case TrackingCommercialCategory::campaignAnalytics:
            return "Helps marketers measure which campaign, source, or creative drove the click.";
        case TrackingCommercialCategory::behavioralCorrelation:
            return "Helps companies connect this click to a broader profile across emails, campaigns, or sessions.";
        case TrackingCommercialCategory::redirectTracking:
            return "Routes the click through tracking infrastructure before reaching the destination.";
    }
    return "";
}

}  // namespace tessaril
