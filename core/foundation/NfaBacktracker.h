// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Regex.h"
#include "core/foundation/RegexNfa.h"

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
    void assignLeads();
    // The walk of a one-set loop from its split at `at` (already recorded as explored), in the order
    // the general walk would take: returns the node to go on with at the updated `at`, or -1.
    std::int32_t walkLoop(std::int32_t split, std::int32_t& at, std::string_view text) const;
    [[nodiscard]] bool mayLead(std::int32_t node, unsigned char next) const {
        const auto& lead = leads_[static_cast<std::size_t>(node)];
        return ((lead[next >> 6] >> (next & 63)) & 1) != 0;
    }

    std::shared_ptr<const RegexNfa> nfa_;
    // Per node, its bit in a row of the record of explored pairs, or -1 for a node that needs none.
    std::vector<std::int32_t> joins_;
    std::size_t wordsPerRow_ = 0;
    // Per node, the next bytes with which a path from it may succeed (see assignLeads).
    std::vector<RegexNfa::ByteSet> leads_;
    // Per split node that heads a loop over one byte set ("[^&]*", ".*?"), that set's node, else -1.
    // Such loops are walked byte by byte without going through the set's node.
    std::vector<std::int32_t> loopBody_;
};

}  // namespace tessaril
