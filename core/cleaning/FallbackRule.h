// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/RuleCategoryType.h"
#include "core/foundation/Regex.h"

#include <string>

namespace tessaril {

// A built-in or custom parameter rule: a whole-name expression, its rule identifier and category.
struct FallbackRule {
    Regex regex;
    std::string ruleID;
    RuleCategoryType category;
};

}  // namespace tessaril
