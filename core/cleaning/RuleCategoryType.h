// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/TrackingCommercialCategory.h"

#include <array>
#include <optional>
#include <string_view>

namespace tessaril {

// The eight rule categories. Their declaration order is the display order of the category tree.
enum class RuleCategoryType {
    analytics,
    socialMedia,
    advertising,
    referralMarketing,
    redirectUnwrapping,
    ecommerce,
    emailMarketing,
    custom
};

inline constexpr std::array<RuleCategoryType, 8> kAllRuleCategoryTypes = {
    RuleCategoryType::analytics,          RuleCategoryType::socialMedia,
    RuleCategoryType::advertising,        RuleCategoryType::referralMarketing,
    RuleCategoryType::redirectUnwrapping, RuleCategoryType::ecommerce,
    RuleCategoryType::emailMarketing,     RuleCategoryType::custom};

// The display name, which is also the JSON form and the category's identifier.
[[nodiscard]] std::string_view rawValue(RuleCategoryType type);
[[nodiscard]] std::optional<RuleCategoryType> ruleCategoryTypeFromRawValue(std::string_view raw);
[[nodiscard]] std::string_view description(RuleCategoryType type);
// A system symbol name for the category's icon.
[[nodiscard]] std::string_view icon(RuleCategoryType type);
// The commercial purpose that rules of this category usually serve, for the impact judgement.
[[nodiscard]] TrackingCommercialCategory commercialCategory(RuleCategoryType type);

}  // namespace tessaril
