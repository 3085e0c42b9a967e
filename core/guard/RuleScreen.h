// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/FragmentScanner.h"
#include "core/guard/CompiledRule.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// Which rules may match a text, answered from one pass over it: the literal fragments of every
// rule's prefilters are looked for together, so a rule then costs a few bit tests instead of one
// substring search per fragment. Searching each fragment on its own was most of the guard's time on
// a long paste, and the rules run over a text's views too. Answers exactly as CompiledRule::mayMatch.
class RuleScreen {
public:
    RuleScreen() = default;
    explicit RuleScreen(const std::vector<CompiledRule>& rules);

    // For each rule, in order, whether its expression can match `text`.
    [[nodiscard]] std::vector<bool> candidates(std::string_view text) const;

private:
    struct Range {
        std::uint32_t begin = 0;
        std::uint32_t end = 0;
    };
    // Every fragment is looked for folded in the folded text; a case-sensitive one found there is
    // then confirmed in the text as it is, since its folded form occurs wherever it does.
    struct Fragment {
        std::string text;
        std::string folded;
        bool caseSensitive = false;
    };
    // A rule's filter and, when it has them, its alternatives' filters (one of which must pass).
    struct Rule {
        std::uint32_t filter = 0;
        Range alternatives;
    };

    std::uint32_t addFilter(const RulePrefilter& filter);
    std::uint32_t fragmentNumber(const std::string& text, bool folded);

    std::vector<Fragment> fragments_;
    // Filters are ranges of requirements, requirements ranges of fragment numbers.
    std::vector<Range> filters_;
    std::vector<Range> requirements_;
    std::vector<std::uint32_t> fragmentNumbers_;
    std::vector<Rule> rules_;
    // Fragments long enough to anchor are found by the scanner (scanner number to fragment number);
    // shorter ones by their first byte, in the same single pass.
    FragmentScanner scanner_;
    std::vector<std::uint32_t> scannedFragments_;
    std::array<std::vector<std::uint32_t>, 256> shortFragments_;
    std::uint32_t shortFragmentCount_ = 0;
};

}  // namespace tessaril
