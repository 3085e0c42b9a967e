// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <optional>

#include "cli/ExitStatus.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/RulesEngine.h"

namespace tessaril::cli {

// `tessaril rules list`: the category tree with switches and match counts, all of it or one
// category. The table groups rules under a line per category; the JSON form is one array of
// category objects (with "description", "ruleCount" and "enabledRuleCount" next to the exported
// fields), so scripts see the same shape with or without a category filter.
ExitStatus listRules(const RulesEngine& engine, std::optional<RuleCategoryType> only, bool json, std::ostream& out,
                     std::ostream& err);

}  // namespace tessaril::cli
