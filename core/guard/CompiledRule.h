// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Regex.h"
#include "core/foundation/RulePrefilter.h"
#include "core/guard/RuleDefinition.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tessaril {

// A rule whose pattern compiled; rules that do not compile never become one.
struct CompiledRule {
    // One alternative of a top-level alternation.
    struct Alternative {
        RulePrefilter prefilter;
        // Searches the alternative on its own; absent when it would not mean the same alone (a
        // back-reference to a group of another alternative).
        std::optional<Regex> regex;
    };

    RuleDefinition definition;
    Regex regex;
    // Skips the expression for texts that cannot match it.
    RulePrefilter prefilter;
    // For a pattern that is an alternation at its top level, its alternatives: a text must meet all
    // the needs of at least one of them, which is far stricter than one filter over the whole pattern
    // (that keeps only a fragment or two of each alternative). When the filters rule some out, the
    // others are searched one by one: ICU tries every alternative at every position of the text, and
    // an alternation that mixes starts (a word, a set, "^") leaves it nothing to skip ahead with, where
    // each alternative alone usually has. Empty when the pattern has no top-level alternation or could
    // not be split with certainty.
    std::vector<Alternative> alternatives;

    // Whether the expression can match `text`; `foldedText` is RulePrefilter::foldForMatching(text).
    [[nodiscard]] bool mayMatch(std::string_view text, std::string_view foldedText) const;
    // The expression's first match in `text`, as `regex` finds it. `searched` has an entry per
    // alternative, zero for those known not to match (RuleScreen::Candidates::alternatives); the
    // others, when they can be searched alone, are, and the leftmost of their matches wins, the
    // earlier alternative on a tie, as in the whole alternation. `hitLimit` tells that nothing was
    // found and some search ran out of work (an alternative that did, next to one that matched, may
    // hide a match further left).
    [[nodiscard]] std::optional<RegexMatch> firstMatch(const SearchText& text, std::span<const std::uint8_t> searched,
                                                       bool& hitLimit) const;
};

}  // namespace tessaril
