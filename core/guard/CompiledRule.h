// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Regex.h"
#include "core/foundation/RulePrefilter.h"
#include "core/guard/RuleDefinition.h"

#include <string_view>
#include <vector>

namespace tessaril {

// A rule whose pattern compiled; rules that do not compile never become one.
struct CompiledRule {
    RuleDefinition definition;
    Regex regex;
    // Skips the expression for texts that cannot match it.
    RulePrefilter prefilter;
    // For a pattern that is an alternation at its top level, one filter per alternative: a text
    // must meet all the needs of at least one of them, which is far stricter than one filter over
    // the whole pattern (that keeps only a fragment or two of each alternative). Empty when the
    // pattern has no top-level alternation or could not be split with certainty.
    std::vector<RulePrefilter> alternativePrefilters;

    // Whether the expression can match `text`; `foldedText` is RulePrefilter::foldForMatching(text).
    [[nodiscard]] bool mayMatch(std::string_view text, std::string_view foldedText) const;
};

}  // namespace tessaril
