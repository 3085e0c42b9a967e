// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/FragmentScanner.h"
#include "core/guard/CompiledRule.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// Which rules may match a text, answered from one pass over it: the literal fragments of every
// rule's prefilters are looked for together, so a rule then costs a few bit tests instead of one
// substring search per fragment. Searching each fragment on its own was most of the guard's time on
// a long paste, and the rules run over a text's views too. Answers exactly as CompiledRule::mayMatch,
// and for each alternative of a rule as that alternative's own filter.
class RuleScreen {
    struct Range {
        std::uint32_t begin = 0;
        std::uint32_t end = 0;
    };

public:
    // What one text may match. Valid while the screen that made it lives.
    class Candidates {
    public:
        // Whether rule `index` (in the order the screen was built with) can match.
        [[nodiscard]] bool rule(std::size_t index) const { return rules_[index] != 0; }
        // For a candidate rule with alternatives, an entry per alternative, non-zero for those that can
        // match; what CompiledRule::firstMatch takes.
        [[nodiscard]] std::span<const std::uint8_t> alternatives(std::size_t index) const;

    private:
        friend class RuleScreen;
        const RuleScreen* screen_ = nullptr;
        std::vector<std::uint8_t> rules_;
        // Per filter, whether the text meets it (only filled in for the alternatives of candidates).
        std::vector<std::uint8_t> filters_;
    };

    RuleScreen() = default;
    explicit RuleScreen(const std::vector<CompiledRule>& rules);

    [[nodiscard]] Candidates candidates(std::string_view text) const;

private:
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
    // A fragment of one to three bytes, folded: its bytes as a little-endian word.
    struct ShortFragment {
        std::uint32_t key = 0;
        std::uint32_t mask = 0;
        std::uint32_t length = 0;
        std::uint32_t number = 0;
    };

    // Fragments long enough to anchor are found by the scanner (scanner number to fragment number);
    // shorter ones by their first byte: shortFragments_[shortBegin_[b] .. shortBegin_[b + 1]) start
    // with byte b.
    FragmentScanner scanner_;
    std::vector<std::uint32_t> scannedFragments_;
    std::vector<ShortFragment> shortFragments_;
    std::array<std::uint32_t, 257> shortBegin_{};
    // Per first byte, the second bytes of the short fragments of two or three bytes that start with
    // it, and how many one-byte fragments are that byte: most bytes of a text then rule out every
    // short fragment with one bit test, before any is compared.
    std::array<std::array<std::uint64_t, 4>, 256> secondBytes_{};
    std::array<std::uint32_t, 256> singleBytes_{};
};

}  // namespace tessaril
