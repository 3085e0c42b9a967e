// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RuleCategoryType.h"

namespace tessaril {

std::string_view rawValue(RuleCategoryType type) {
    switch (type) {
        case RuleCategoryType::analytics:
            return "Analytics";
        case RuleCategoryType::socialMedia:
            return "Social Media";
        case RuleCategoryType::advertising:
            return "Advertising";
        case RuleCategoryType::referralMarketing:
            return "Referral Marketing";
        case RuleCategoryType::redirectUnwrapping:
            return "Redirect Unwrapping";
        case RuleCategoryType::ecommerce:
            return "E-commerce";
        case RuleCategoryType::emailMarketing:
            return "Email Marketing";
        case RuleCategoryType::custom:
            return "Custom";
    }
    return "Custom";
}

std::optional<RuleCategoryType> ruleCategoryTypeFromRawValue(std::string_view raw) {
    for (RuleCategoryType type : kAllRuleCategoryTypes) {
        if (rawValue(type) == raw) return type;
    }
    return std::nullopt;
}

std::string_view description(RuleCategoryType type) {
    switch (type) {
        case RuleCategoryType::analytics:
            return "UTM parameters, Google Analytics, Adobe, Yandex";
        case RuleCategoryType::socialMedia:
            return "Facebook, Twitter, Instagram, TikTok tracking";
        case RuleCategoryType::advertising:
            return "Google Ads, Microsoft Ads, ad tracking";
        case RuleCategoryType::referralMarketing:
            return "Affiliate tags, referrer parameters";
        case RuleCategoryType::redirectUnwrapping:
            return "Google/Facebook URL redirect wrappers";
        case RuleCategoryType::ecommerce:
            return "Amazon ref tags, product tracking";
        case RuleCategoryType::emailMarketing:
            return "Mailchimp, HubSpot parameters";
        case RuleCategoryType::custom:
            return "User-defined rules";
    }
    return "";
}

std::string_view icon(RuleCategoryType type) {
    switch (type) {
        case RuleCategoryType::analytics:
            return "chart.bar";
        case RuleCategoryType::socialMedia:
            return "bubble.left.and.bubble.right";
        case RuleCategoryType::advertising:
            return "megaphone";
        case RuleCategoryType::referralMarketing:
            return "arrow.triangle.branch";
        case RuleCategoryType::redirectUnwrapping:
            return "arrow.uturn.right";
        case RuleCategoryType::ecommerce:
            return "cart";
        case RuleCategoryType::emailMarketing:
            return "envelope";
        case RuleCategoryType::custom:
            return "wrench";
    }
    return "";
}

TrackingCommercialCategory commercialCategory(RuleCategoryType type) {
    switch (type) {
        case RuleCategoryType::analytics:
            return TrackingCommercialCategory::campaignAnalytics;
        case RuleCategoryType::socialMedia:
        case RuleCategoryType::advertising:
            return TrackingCommercialCategory::adPlatformAttribution;
        case RuleCategoryType::referralMarketing:
        case RuleCategoryType::ecommerce:
            return TrackingCommercialCategory::directCommercialAttribution;
        case RuleCategoryType::redirectUnwrapping:
            return TrackingCommercialCategory::redirectTracking;
        case RuleCategoryType::emailMarketing:
        case RuleCategoryType::custom:
            return TrackingCommercialCategory::behavioralCorrelation;
    }
    return TrackingCommercialCategory::behavioralCorrelation;
}

}  // namespace tessaril
