// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/LazyDfa.h"
#include "core/foundation/Regex.h"
#include "core/foundation/RulePrefilter.h"
#include "core/guard/RuleDefinition.h"
#include "core/guard/SiteList.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
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
    // The site list of the rule's "exceptSites" and the number of the group it applies to (0 for
    // the whole match); without a list every match stands.
    std::shared_ptr<const SiteList> exceptSites;
    std::size_t exceptGroup = 0;

    // A looser form of the pattern (relaxed_pattern::fromPattern) and the lazy DFA that runs it,
    // built on first use. One pass of the DFA rules out most texts the pattern does not match,
    // where ICU would try every alternative, look-around and bounded repetition at every position.
    // A copy shares the pattern but builds its own DFA, which is not thread-safe.
    class RelaxedScreen {
    public:
        RelaxedScreen() = default;
        explicit RelaxedScreen(std::string pattern) : pattern_(std::move(pattern)) {}
        RelaxedScreen(const RelaxedScreen& other) : pattern_(other.pattern_) {}
        RelaxedScreen& operator=(const RelaxedScreen& other) {
            if (this != &other) {
                pattern_ = other.pattern_;
                dfa_.reset();
                read_ = false;
            }
            return *this;
        }
        RelaxedScreen(RelaxedScreen&&) noexcept = default;
        RelaxedScreen& operator=(RelaxedScreen&&) noexcept = default;
        ~RelaxedScreen() = default;

        [[nodiscard]] const std::string& pattern() const { return pattern_; }
        // False when the pattern cannot match the text that `relaxedText` (relaxed_pattern::relaxedText)
        // was made from; true when it may, or when the DFA cannot tell.
        [[nodiscard]] bool mayMatch(std::string_view relaxedText);

    private:
        std::string pattern_;
        std::unique_ptr<LazyDfa> dfa_;
        bool read_ = false;
    };
    mutable RelaxedScreen relaxed{};
    // The rules of definition.supersededBy that compiled, by their index in the guard's rules.
    std::vector<std::size_t> supersededBy{};

    // Whether the expression can match `text`; `foldedText` is RulePrefilter::foldForMatching(text).
    [[nodiscard]] bool mayMatch(std::string_view text, std::string_view foldedText) const;
    // The expression's first match in `text`, as `regex` finds it. `searched` has an entry per
    // alternative, zero for those known not to match (RuleScreen::Candidates::alternatives); the
    // others, when they can be searched alone, are, and the leftmost of their matches wins, the
    // earlier alternative on a tie, as in the whole alternation. `hitLimit` tells that nothing was
    // found and some search ran out of work (an alternative that did, next to one that matched, may
    // hide a match further left). Only matches starting at or after byte `from` count.
    [[nodiscard]] std::optional<RegexMatch> firstMatch(const SearchText& text, std::span<const std::uint8_t> searched,
                                                       bool& hitLimit, std::size_t from = 0) const;
    // Whether a match of the expression in `text` stands: always, unless the rule has a site list
    // and its group names no site outside it.
    [[nodiscard]] bool matchStands(std::string_view text, const RegexMatch& match) const;
};

}  // namespace tessaril
