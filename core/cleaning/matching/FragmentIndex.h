// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/matching/LinkScan.h"
#include "core/foundation/FragmentScanner.h"
#include "core/foundation/KnownPrefilters.h"
#include "core/foundation/RulePrefilter.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessaril {

// The literal fragments of every prefilter the engine applies to links (URL patterns, exceptions,
// redirections, path rules), found in one pass over a link by a FragmentScanner.
// Each filter then costs a few bit tests instead of one substring search per fragment, which matters
// because a typical link is asked about by a few hundred filters.
//
// Filters are added, then build() runs once; filter numbers are stable from add() on. A filter that
// is not case-insensitive cannot be answered from the folded text and keeps its own substring checks.
class FragmentIndex {
public:
    // Registers a filter; returns its number.
    [[nodiscard]] std::uint32_t add(const RulePrefilter& filter);
    // Registers the case-insensitive filter of `pattern`, read from `prefilters` without making a
    // RulePrefilter when the table has it (most of a load's patterns).
    [[nodiscard]] std::uint32_t add(std::string_view pattern, const KnownPrefilters& prefilters);
    void build();

    // Makes `scan` describe `text`: which fragments it holds, case-insensitively.
    void scan(std::string_view text, LinkScan& scan) const;
    // Whether the filter lets the scanned text through: every requirement has a fragment in it. The
    // first requirement is answered by one bit of the scan, which turns most filters away.
    [[nodiscard]] bool passes(std::uint32_t filter, const LinkScan& scan) const {
        if (!isSet(scan.liveFilters_, filter)) return false;
        const Filter& entry = filters_[filter];
        if (entry.opaque != kNotOpaque) return opaqueFilterPasses(entry, scan);
        return entry.tail == kNoTail || tailMet(entry.tail, scan);
    }

    // Groups pass over many filters at once: a group is live for a scan when one of its filters is
    // unconditional or has a fragment of its first (most selective) requirement in the text, so a
    // group that is not live has no filter that passes. Registers a group of filters already added
    // and returns its number (groups are numbered from 0 in the order they are added).
    [[nodiscard]] std::uint32_t addGroup(std::span<const std::uint32_t> filters);
    [[nodiscard]] static bool live(std::uint32_t group, const LinkScan& scan) { return isSet(scan.liveGroups_, group); }
    [[nodiscard]] std::uint32_t groupCount() const { return static_cast<std::uint32_t>(groupBegin_.size() - 1); }
    // Calls `visit(group)` for each live group in [begin, end), in ascending order.
    template <typename Visit>
    static void forEachLive(std::uint32_t begin, std::uint32_t end, const LinkScan& scan, Visit visit) {
        (void)firstLive(begin, end, scan, [&](std::uint32_t group) {
            visit(group);
            return false;
        });
    }
    // The first live group in [begin, end), in ascending order, for which `accept(group)` is true, or
    // `end`; groups after it are not visited.
    template <typename Accept>
    static std::uint32_t firstLive(std::uint32_t begin, std::uint32_t end, const LinkScan& scan, Accept accept) {
        const std::vector<std::uint64_t>& live = scan.liveGroups_;
        const std::uint32_t stop = std::min<std::uint32_t>(end, static_cast<std::uint32_t>(live.size() * 64));
        if (begin >= stop) return end;
        const std::uint32_t lastWord = (stop - 1) / 64;
        for (std::uint32_t word = begin / 64; word <= lastWord; ++word) {
            std::uint64_t bits = live[word];
            if (word == begin / 64) bits &= ~std::uint64_t{0} << (begin % 64);
            if (word == lastWord && stop % 64 != 0) bits &= ~(~std::uint64_t{0} << (stop % 64));
            for (; bits != 0; bits &= bits - 1) {
                const std::uint32_t group = word * 64 + static_cast<std::uint32_t>(std::countr_zero(bits));
                if (accept(group)) return group;
            }
        }
        return end;
    }

private:
    struct Range {
        std::uint32_t begin = 0;
        std::uint32_t end = 0;
    };
    struct Filter {
        Range requirements;
        // Index into opaque_, or kNotOpaque for a filter answered from the fragments.
        std::uint32_t opaque = kNotOpaque;
        // The requirements after the first, as a shared tail (see tails_), or kNoTail.
        std::uint32_t tail = kNoTail;
    };
    static constexpr std::uint32_t kNotOpaque = UINT32_MAX;
    static constexpr std::uint32_t kNoTail = UINT32_MAX;

    [[nodiscard]] static bool isSet(const std::vector<std::uint64_t>& bits, std::uint32_t index) {
        return index / 64 < bits.size() && ((bits[index / 64] >> (index % 64)) & 1U) != 0;
    }
    [[nodiscard]] bool opaqueFilterPasses(const Filter& entry, const LinkScan& scan) const;
    // A filter without requirements lets every text through.
    [[nodiscard]] bool unconditional(std::uint32_t filter) const;
    // Whether the scanned text meets every requirement of the tail; answered once per scan.
    [[nodiscard]] bool tailMet(std::uint32_t tail, const LinkScan& scan) const {
        std::uint8_t& answer = scan.tailAnswers_[tail];
        if (answer == 0) answer = computeTail(tail, scan) ? 2 : 1;
        return answer == 2;
    }
    [[nodiscard]] bool computeTail(std::uint32_t tail, const LinkScan& scan) const;
    // Registers a case-insensitive filter: fragments_[.. requirementEnds[0]) is its first requirement,
    // and so on.
    [[nodiscard]] std::uint32_t addFolded(std::span<const std::string_view> fragments,
                                          std::span<const std::uint32_t> requirementEnds);
    [[nodiscard]] std::uint32_t fragmentNumber(std::string_view fragment);
    [[nodiscard]] std::uint32_t tailNumber(Range filterRequirements);
    [[nodiscard]] std::span<const std::uint32_t> keyFragments(std::uint32_t filter) const;
    void buildKeys();

    std::vector<Filter> filters_;
    std::vector<Range> requirements_;
    std::vector<std::uint32_t> requirementFragments_;
    std::vector<RulePrefilter> opaque_;
    // Most filters share the requirements after their first ("http" and "://" of a link pattern, say),
    // so those are kept once, as a range of requirements_, and answered once per scanned text.
    std::vector<Range> tails_;
    std::unordered_map<std::string, std::uint32_t> tailNumbers_;
    // Per group, its filters: group g's are groupFilters_[groupBegin_[g] .. groupBegin_[g + 1]), in one
    // array rather than thousands of small ones. After build(), per fragment the filters and groups it makes live
    // (those keyed on it: fragmentFilters_[fragmentFilterBegin_[f] .. fragmentFilterBegin_[f + 1]),
    // likewise for groups), and the filters and groups that are always live.
    std::vector<std::uint32_t> groupBegin_ = {0};
    std::vector<std::uint32_t> groupFilters_;
    std::vector<std::uint32_t> fragmentFilterBegin_;
    std::vector<std::uint32_t> fragmentFilters_;
    std::vector<std::uint32_t> fragmentGroupBegin_;
    std::vector<std::uint32_t> fragmentGroups_;
    std::vector<std::uint64_t> alwaysLiveFilters_;
    std::vector<std::uint64_t> alwaysLiveGroups_;
    std::vector<std::string> fragments_;
    // Looked up by a view of a reused buffer, so that only a new fragment makes a string.
    struct FragmentHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, std::uint32_t, FragmentHash, std::equal_to<>> fragmentNumbers_;
    std::string lowerFragment_;
    // Reused by every add.
    std::vector<std::string_view> addedFragments_;
    std::vector<std::uint32_t> addedRequirementEnds_;

    FragmentScanner scanner_;
    bool built_ = false;
};

}  // namespace tessaril
