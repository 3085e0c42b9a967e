// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/FragmentIndex.h"

#include <algorithm>
#include <deque>

namespace tessaril {

void FragmentIndex::clear() {
    filters_.clear();
    requirements_.clear();
    requirementFragments_.clear();
    opaque_.clear();
    tails_.clear();
    tailNumbers_.clear();
    groups_.clear();
    fragmentFilterBegin_.clear();
    fragmentFilters_.clear();
    fragmentGroupBegin_.clear();
    fragmentGroups_.clear();
    alwaysLiveFilters_.clear();
    alwaysLiveGroups_.clear();
    fragments_.clear();
    fragmentNumbers_.clear();
    next_.clear();
    outputBegin_.clear();
    outputs_.clear();
}

std::uint32_t FragmentIndex::fragmentNumber(const std::string& fragment) {
    auto [it, added] = fragmentNumbers_.try_emplace(fragment, static_cast<std::uint32_t>(fragments_.size()));
    if (added) fragments_.push_back(fragment);
    return it->second;
}

std::uint32_t FragmentIndex::add(const RulePrefilter& filter) {
    const auto number = static_cast<std::uint32_t>(filters_.size());
    Filter entry;
    if (!filter.caseInsensitive() && !filter.requirements().empty()) {
        entry.opaque = static_cast<std::uint32_t>(opaque_.size());
        opaque_.push_back(filter);
        filters_.push_back(entry);
        return number;
    }
    entry.requirements.begin = static_cast<std::uint32_t>(requirements_.size());
    for (const auto& any : filter.requirements()) {
        // The empty text occurs everywhere, so such a requirement is always met.
        if (any.empty() || std::any_of(any.begin(), any.end(), [](const std::string& f) { return f.empty(); })) {
            continue;
        }
        Range range;
        range.begin = static_cast<std::uint32_t>(requirementFragments_.size());
        for (const auto& fragment : any)
            requirementFragments_.push_back(fragmentNumber(fragment));
        range.end = static_cast<std::uint32_t>(requirementFragments_.size());
        requirements_.push_back(range);
    }
    entry.requirements.end = static_cast<std::uint32_t>(requirements_.size());
    if (entry.requirements.end - entry.requirements.begin > 1) entry.tail = tailNumber(entry.requirements);
    filters_.push_back(entry);
    return number;
}

std::uint32_t FragmentIndex::tailNumber(Range filterRequirements) {
    // The tail's identity: its requirements' fragment numbers, each requirement closed by a marker.
    std::string key;
    for (std::uint32_t r = filterRequirements.begin + 1; r < filterRequirements.end; ++r) {
        for (std::uint32_t k = requirements_[r].begin; k != requirements_[r].end; ++k)
            key += std::to_string(requirementFragments_[k]) + ',';
        key += ';';
    }
    auto [it, added] = tailNumbers_.try_emplace(key, static_cast<std::uint32_t>(tails_.size()));
    if (added) tails_.push_back(Range{filterRequirements.begin + 1, filterRequirements.end});
    return it->second;
}

std::uint32_t FragmentIndex::addGroup(std::span<const std::uint32_t> filters) {
    groups_.emplace_back(filters.begin(), filters.end());
    return static_cast<std::uint32_t>(groups_.size() - 1);
}

namespace {

void setBit(std::vector<std::uint64_t>& bits, std::uint32_t index) {
    bits[index / 64] |= std::uint64_t{1} << (index % 64);
}

// Lists flattened: list k is values[begin[k] .. begin[k + 1]).
void flatten(const std::vector<std::vector<std::uint32_t>>& lists, std::vector<std::uint32_t>& begin,
             std::vector<std::uint32_t>& values) {
    begin.clear();
    values.clear();
    for (const auto& list : lists) {
        begin.push_back(static_cast<std::uint32_t>(values.size()));
        values.insert(values.end(), list.begin(), list.end());
    }
    begin.push_back(static_cast<std::uint32_t>(values.size()));
}

}  // namespace

void FragmentIndex::buildKeys() {
    alwaysLiveFilters_.assign((filters_.size() + 63) / 64, 0);
    std::vector<std::vector<std::uint32_t>> byFragment(fragments_.size());
    for (std::uint32_t filter = 0; filter < filters_.size(); ++filter) {
        const auto keys = keyFragments(filter);
        if (keys.empty()) setBit(alwaysLiveFilters_, filter);
        for (const std::uint32_t fragment : keys) {
            auto& list = byFragment[fragment];
            if (list.empty() || list.back() != filter) list.push_back(filter);
        }
    }
    flatten(byFragment, fragmentFilterBegin_, fragmentFilters_);

    alwaysLiveGroups_.assign((groups_.size() + 63) / 64, 0);
    byFragment.assign(fragments_.size(), {});
    for (std::uint32_t group = 0; group < groups_.size(); ++group) {
        for (const std::uint32_t filter : groups_[group]) {
            const auto keys = keyFragments(filter);
            if (keys.empty()) {
                setBit(alwaysLiveGroups_, group);
                break;
            }
            for (const std::uint32_t fragment : keys) {
                auto& list = byFragment[fragment];
                if (list.empty() || list.back() != group) list.push_back(group);
            }
        }
    }
    flatten(byFragment, fragmentGroupBegin_, fragmentGroups_);
}

void FragmentIndex::build() {
    buildKeys();
    // Bytes that occur in no fragment share class 0, which always leads back towards the root.
    std::fill(std::begin(byteClass_), std::end(byteClass_), 0);
    classCount_ = 1;
    for (const auto& fragment : fragments_) {
        for (char c : fragment) {
            auto& cls = byteClass_[static_cast<unsigned char>(c)];
            if (cls == 0) cls = static_cast<std::uint8_t>(classCount_++);
        }
    }
    // Fragments are case-folded, so an ASCII capital walks like its small letter: ASCII text needs
    // no folding before the walk.
    for (char c = 'A'; c <= 'Z'; ++c)
        byteClass_[static_cast<unsigned char>(c)] = byteClass_[static_cast<unsigned char>(c - 'A' + 'a')];
    // The trie first; 0 in next_ means "no edge" until the failure links fill it in.
    next_.assign(classCount_, 0);
    std::vector<std::vector<std::uint32_t>> output(1);
    for (std::uint32_t f = 0; f < fragments_.size(); ++f) {
        std::uint32_t state = 0;
        for (char c : fragments_[f]) {
            const std::size_t slot = state * classCount_ + byteClass_[static_cast<unsigned char>(c)];
            if (next_[slot] == 0) {
                next_[slot] = static_cast<std::uint32_t>(output.size());
                output.emplace_back();
                next_.resize(next_.size() + classCount_, 0);
            }
            state = next_[slot];
        }
        output[state].push_back(f);
    }
    // Breadth first: each state's missing edges follow its failure state's, and it inherits the
    // failure state's outputs.
    std::vector<std::uint32_t> failure(output.size(), 0);
    std::deque<std::uint32_t> queue;
    for (std::uint32_t cls = 0; cls < classCount_; ++cls) {
        if (const std::uint32_t child = next_[cls]; child != 0) queue.push_back(child);
    }
    while (!queue.empty()) {
        const std::uint32_t state = queue.front();
        queue.pop_front();
        const auto& inherited = output[failure[state]];
        output[state].insert(output[state].end(), inherited.begin(), inherited.end());
        for (std::uint32_t cls = 0; cls < classCount_; ++cls) {
            const std::size_t slot = state * classCount_ + cls;
            const std::uint32_t viaFailure = next_[failure[state] * classCount_ + cls];
            if (next_[slot] != 0 && cls != 0) {
                failure[next_[slot]] = viaFailure;
                queue.push_back(next_[slot]);
            } else {
                next_[slot] = viaFailure;
            }
        }
    }
    // The walk wants the row of the next state and whether anything ends there. States are
    // renumbered so that those where fragments end come last: an edge holds the next state's row
    // offset, and one comparison tells whether to look at its outputs.
    const auto stateCount = static_cast<std::uint32_t>(output.size());
    std::vector<std::uint32_t> renumbered(stateCount);
    std::vector<std::vector<std::uint32_t>> outputsInOrder;
    outputsInOrder.reserve(stateCount);
    for (const bool withOutputs : {false, true}) {
        if (withOutputs) firstOutputRow_ = static_cast<std::uint32_t>(outputsInOrder.size()) * classCount_;
        for (std::uint32_t state = 0; state < stateCount; ++state) {
            if (output[state].empty() == withOutputs) continue;
            renumbered[state] = static_cast<std::uint32_t>(outputsInOrder.size());
            outputsInOrder.push_back(std::move(output[state]));
        }
    }
    std::vector<std::uint32_t> rows(next_.size());
    for (std::uint32_t state = 0; state < stateCount; ++state) {
        for (std::uint32_t cls = 0; cls < classCount_; ++cls)
            rows[renumbered[state] * classCount_ + cls] = renumbered[next_[state * classCount_ + cls]] * classCount_;
    }
    next_ = std::move(rows);
    flatten(outputsInOrder, outputBegin_, outputs_);
}

void FragmentIndex::findFragments(LinkScan& scan) const {
    const std::size_t words = (fragments_.size() + 63) / 64;
    if (scan.fragmentBits_.size() == words) {
        for (const std::uint32_t fragment : scan.fragmentsFound_)
            scan.fragmentBits_[fragment / 64] = 0;
    } else {
        scan.fragmentBits_.assign(words, 0);
    }
    scan.fragmentsFound_.clear();
    scan.liveFilters_ = alwaysLiveFilters_;
    scan.liveGroups_ = alwaysLiveGroups_;
    scan.tailAnswers_.assign(tails_.size(), 0);
    if (next_.empty()) return;  // never built
    // ASCII is walked as it is. Text with other than ASCII is walked again in the folding ICU
    // compares against (a long s matches "s", a ligature its letters); such links are rare.
    if (!walk(scan.text_, scan)) {
        for (const std::uint32_t fragment : scan.fragmentsFound_)
            scan.fragmentBits_[fragment / 64] = 0;
        scan.fragmentsFound_.clear();
        scan.folded_.clear();
        RulePrefilter::foldFullyInto(scan.text_, scan.folded_);
        (void)walk(scan.folded_, scan);
    }
    for (const std::uint32_t fragment : scan.fragmentsFound_) {
        for (std::uint32_t k = fragmentFilterBegin_[fragment]; k != fragmentFilterBegin_[fragment + 1]; ++k)
            setBit(scan.liveFilters_, fragmentFilters_[k]);
        for (std::uint32_t k = fragmentGroupBegin_[fragment]; k != fragmentGroupBegin_[fragment + 1]; ++k)
            setBit(scan.liveGroups_, fragmentGroups_[k]);
    }
}

bool FragmentIndex::walk(std::string_view text, LinkScan& scan) const {
    const std::uint32_t* const next = next_.data();
    const std::uint8_t* const byteClass = byteClass_;
    const std::uint32_t firstOutputRow = firstOutputRow_;
    std::uint32_t row = 0;
    unsigned char allBytes = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        allBytes |= byte;
        row = next[row + byteClass[byte]];
        if (row >= firstOutputRow) recordOutputs(row / classCount_, scan);
    }
    return allBytes < 0x80;
}

void FragmentIndex::recordOutputs(std::uint32_t state, LinkScan& scan) const {
    for (std::uint32_t k = outputBegin_[state]; k != outputBegin_[state + 1]; ++k) {
        const std::uint32_t fragment = outputs_[k];
        std::uint64_t& word = scan.fragmentBits_[fragment / 64];
        const std::uint64_t bit = std::uint64_t{1} << (fragment % 64);
        if ((word & bit) == 0) {
            word |= bit;
            scan.fragmentsFound_.push_back(fragment);
        }
    }
}

bool FragmentIndex::opaqueFilterPasses(const Filter& entry, const LinkScan& scan) const {
    return opaque_[entry.opaque].mayMatch(scan.text(), scan.text());  // never case-insensitive
}

bool FragmentIndex::computeTail(std::uint32_t tail, const LinkScan& scan) const {
    for (std::uint32_t r = tails_[tail].begin; r < tails_[tail].end; ++r) {
        const Range any = requirements_[r];
        bool met = false;
        for (std::uint32_t k = any.begin; k != any.end && !met; ++k)
            met = scan.hasFragment(requirementFragments_[k]);
        if (!met) return false;
    }
    return true;
}

bool FragmentIndex::unconditional(std::uint32_t filter) const {
    if (filter >= filters_.size()) return true;
    const Filter& entry = filters_[filter];
    return entry.opaque == kNotOpaque && entry.requirements.begin == entry.requirements.end;
}

std::span<const std::uint32_t> FragmentIndex::keyFragments(std::uint32_t filter) const {
    if (unconditional(filter) || filters_[filter].opaque != kNotOpaque) return {};
    const Range first = requirements_[filters_[filter].requirements.begin];
    return {requirementFragments_.data() + first.begin, first.end - first.begin};
}

}  // namespace tessaril
