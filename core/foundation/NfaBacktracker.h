// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Regex.h"
#include "core/foundation/RegexNfa.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace tessaril {

// ICU's first match and capture groups, found without ICU by walking a RegexNfa in the order ICU's
// backtracking tries things: start offsets left to right, at each split `out` before `alternative`.
// Each (node, offset) pair is explored at most once: whether a match can be completed from there
// depends on nothing else (there are no back-references), so a pair that failed once fails again.
// Only nodes where paths join are recorded; the others cannot be reached twice at one offset.
// The work is thus bounded by nodes × text length, and a pattern that sends ICU into exponential
// backtracking is answered in linear time. Unlike ICU, this never gives up.
//
// Exact only for an automaton whose capturesExact() holds, and only on printable ASCII text: answers()
// says when find() may be asked. The record of explored pairs takes a bit per join and offset; a
// text too long for `visitBudget` bits is left to ICU.
//
// The scratch space is per thread and shared by every backtracker of the thread, so that a thousand
// rules cost one buffer, not a thousand; find() allocates nothing but the match it returns once the
// buffer has grown.
class NfaBacktracker {
public:
    static constexpr std::size_t visitBudget = std::size_t{1} << 20;

    explicit NfaBacktracker(std::shared_ptr<const RegexNfa> nfa);

    [[nodiscard]] bool answers(std::string_view text) const;
    // The match ICU's find() reports when it starts looking at offset `from` (the text's start and
    // end are still those of the whole text); groups as in RegexMatch.
    [[nodiscard]] std::optional<RegexMatch> find(std::string_view text, std::size_t from) const;

private:
    // A loop over one byte set ("[^&]*", ".*?", "[^&]+"): a split with the set's node as one branch.
    struct Loop {
        std::int32_t body = -1;
        std::int32_t leave = -1;
        std::int32_t join = -1;
        bool joinsAtSplit = true;
        bool greedy = true;
        // Per next byte (0 for the end of the text): whether another iteration and whether leaving
        // may succeed.
        std::array<std::uint8_t, 256> steps{};
    };
    static constexpr std::uint8_t stayBit = 1;
    static constexpr std::uint8_t leaveBit = 2;

    void assignLeads();
    // The walk of a loop from its split at `at` (already recorded as explored), in the order the
    // general walk would take, over a whole run of bytes at once: returns the node to go on with at
    // the updated `at`, or -1 to go on with the jobs it left.
    std::int32_t walkLoop(const Loop& loop, std::int32_t& at, std::string_view text) const;
    [[nodiscard]] bool mayLead(std::int32_t node, unsigned char next) const {
        const auto& lead = leads_[static_cast<std::size_t>(node)];
        return ((lead[next >> 6] >> (next & 63)) & 1) != 0;
    }

    std::shared_ptr<const RegexNfa> nfa_;
    // Per node, its bit in a row of the record of explored pairs, or -1 for a node that needs none.
    std::vector<std::int32_t> joins_;
    std::size_t joinCount_ = 0;
    // Per node, the next bytes with which a path from it may succeed (see assignLeads).
    std::vector<RegexNfa::ByteSet> leads_;
    // Per split node that heads a loop over one byte set, its index in loops_, else -1.
    std::vector<std::int32_t> loopOf_;
    std::vector<Loop> loops_;
};

}  // namespace tessaril
