// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/matching/FragmentIndex.h"

#include <algorithm>

namespace tessaril {

namespace {

// Whether a case-folded fragment is one that practically every web link holds.
bool isInEveryLink(std::string_view fragment) {
    return std::string_view("https://www.").find(fragment) != std::string_view::npos || fragment == ".com";
}

}  // namespace

std::uint32_t FragmentIndex::fragmentNumber(std::string_view fragment) {
    // The scanner compares ASCII letters in small letters; case-insensitive fragments are folded
    // already, so this only guards the assumption.
    lowerFragment_.assign(fragment);
    for (char& c : lowerFragment_) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (const auto found = fragmentNumbers_.find(std::string_view(lowerFragment_)); found != fragmentNumbers_.end())
        return found->second;
    const auto number = static_cast<std::uint32_t>(fragments_.size());
    fragmentNumbers_.emplace(lowerFragment_, number);
    fragments_.push_back(lowerFragment_);
    return number;
}

std::uint32_t FragmentIndex::add(const RulePrefilter& filter) {
    if (!filter.caseInsensitive() && !filter.requirements().empty()) {
        const auto number = static_cast<std::uint32_t>(filters_.size());
        Filter entry;
        entry.opaque = static_cast<std::uint32_t>(opaque_.size());
        opaque_.push_back(filter);
        filters_.push_back(entry);
        return number;
    }
    addedFragments_.clear();
    addedRequirementEnds_.clear();
    for (const auto& any : filter.requirements()) {
        addedFragments_.insert(addedFragments_.end(), any.begin(), any.end());
        addedRequirementEnds_.push_back(static_cast<std::uint32_t>(addedFragments_.size()));
    }
    return addFolded(addedFragments_, addedRequirementEnds_);
}

std::uint32_t FragmentIndex::add(std::string_view pattern, const KnownPrefilters& prefilters) {
    const auto encoded = prefilters.encoded(pattern);
    // A filter the table holds as case-sensitive (never one read for a case-insensitive pattern) or
    // malformed takes the general way, as does a pattern it does not hold.
    if (!encoded || !encoded->starts_with('i') ||
        !KnownPrefilters::read(*encoded, addedFragments_, addedRequirementEnds_))
        return add(prefilters.caseInsensitive(pattern));
    return addFolded(addedFragments_, addedRequirementEnds_);
}

std::uint32_t FragmentIndex::addFolded(std::span<const std::string_view> fragments,
                                       std::span<const std::uint32_t> requirementEnds) {
    const auto number = static_cast<std::uint32_t>(filters_.size());
    Filter entry;
    entry.requirements.begin = static_cast<std::uint32_t>(requirements_.size());
    std::uint32_t begin = 0;
    for (const std::uint32_t end : requirementEnds) {
        const auto any = fragments.subspan(begin, end - begin);
        begin = end;
        // A requirement is left out when a fragment of it is too short for the scanner or one nearly
        // every link holds: the filter stays a necessary condition without it, and looking for such
        // fragments would cost more than it saves. (The empty text occurs everywhere.)
        if (any.empty() || std::any_of(any.begin(), any.end(), [](std::string_view f) {
                return f.size() < FragmentScanner::kMinimumLength || isInEveryLink(f);
            })) {
            continue;
        }
        Range range;
        range.begin = static_cast<std::uint32_t>(requirementFragments_.size());
        for (const std::string_view fragment : any)
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
    groupFilters_.insert(groupFilters_.end(), filters.begin(), filters.end());
    groupBegin_.push_back(static_cast<std::uint32_t>(groupFilters_.size()));
    return groupCount() - 1;
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

    alwaysLiveGroups_.assign((groupCount() + 63) / 64, 0);
    byFragment.assign(fragments_.size(), {});
    for (std::uint32_t group = 0; group < groupCount(); ++group) {
        for (std::uint32_t k = groupBegin_[group]; k != groupBegin_[group + 1]; ++k) {
            const std::uint32_t filter = groupFilters_[k];
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
    scanner_.build(fragments_);
    built_ = true;
}

void FragmentIndex::scan(std::string_view text, LinkScan& scan) const {
    scan.text_ = text;
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
    if (!built_) return;
    // ASCII is walked as it is. Text with other than ASCII is walked again in the folding ICU
    // compares against (a long s matches "s", a ligature its letters); such links are rare.
    if (!scanner_.scan(scan.text_, scan.fragmentBits_, scan.fragmentsFound_)) {
        for (const std::uint32_t fragment : scan.fragmentsFound_)
            scan.fragmentBits_[fragment / 64] = 0;
        scan.fragmentsFound_.clear();
        scan.folded_.clear();
        RulePrefilter::foldFullyInto(scan.text_, scan.folded_);
        (void)scanner_.scan(scan.folded_, scan.fragmentBits_, scan.fragmentsFound_);
    }
    for (const std::uint32_t fragment : scan.fragmentsFound_) {
        for (std::uint32_t k = fragmentFilterBegin_[fragment]; k != fragmentFilterBegin_[fragment + 1]; ++k)
            setBit(scan.liveFilters_, fragmentFilters_[k]);
        for (std::uint32_t k = fragmentGroupBegin_[fragment]; k != fragmentGroupBegin_[fragment + 1]; ++k)
            setBit(scan.liveGroups_, fragmentGroups_[k]);
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
