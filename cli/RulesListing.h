// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ExitStatus.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/RulesEngine.h"

namespace tessaril::cli {

// Which rules a listing shows: those of one category, those taken from one rule list (the source
// column of the table, such as "ClearURLs", "Tessaril" or "Custom", in any letter case), or both.
struct RuleSelection {
    std::optional<RuleCategoryType> category;
    std::optional<std::string> source;

    [[nodiscard]] bool includes(RuleCategoryType type, std::string_view origin) const;
};

// `tessaril rules list`: the category tree with switches and match counts, all of it or a
// selection. The table groups rules under a line per category; the JSON form is one array of
// category objects (with "description", "ruleCount" and "enabledRuleCount" next to the exported
// fields, and each rule's "origin"), so scripts see the same shape with or without a filter. A
// source no rule comes from is a usage error that names the sources there are.
ExitStatus listRules(const RulesEngine& engine, const RuleSelection& selection, bool json, std::ostream& out,
                     std::ostream& err);

// The rule lists the loaded rules come from, sorted.
[[nodiscard]] std::vector<std::string> ruleSources(const RulesEngine& engine);
// Whether some loaded rule comes from `source`; if none does, says so on `err` with the sources
// there are.
[[nodiscard]] bool knownSource(const RulesEngine& engine, std::string_view source, std::ostream& err);

}  // namespace tessaril::cli
