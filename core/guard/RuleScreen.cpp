// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/RuleScreen.h"

#include <algorithm>

namespace tessaril {

RuleScreen::RuleScreen(const std::vector<CompiledRule>& rules) {
    for (const CompiledRule& rule : rules) {
        Rule entry{addFilter(rule.prefilter), {}};
        entry.alternatives.begin = static_cast<std::uint32_t>(filters_.size());
        for (const CompiledRule::Alternative& alternative : rule.alternatives)
            addFilter(alternative.prefilter);
        entry.alternatives.end = static_cast<std::uint32_t>(filters_.size());
        rules_.push_back(entry);
    }
    std::vector<std::string> scanned;
    for (std::uint32_t number = 0; number < fragments_.size(); ++number) {
        const std::string& folded = fragments_[number].folded;
        if (folded.size() >= FragmentScanner::kMinimumLength) {
            scanned.push_back(folded);
            scannedFragments_.push_back(number);
        } else if (!folded.empty()) {
            ShortFragment fragment{0, 0, static_cast<std::uint32_t>(folded.size()), number};
            for (std::size_t i = 0; i < folded.size(); ++i) {
                fragment.key |= std::uint32_t{static_cast<unsigned char>(folded[i])} << (8 * i);
                fragment.mask |= std::uint32_t{0xFF} << (8 * i);
            }
            const auto first = static_cast<unsigned char>(folded[0]);
            if (folded.size() == 1) {
                ++singleBytes_[first];
            } else {
                const auto second = static_cast<unsigned char>(folded[1]);
                secondBytes_[first][second >> 6] |= std::uint64_t{1} << (second & 63);
            }
            shortFragments_.push_back(fragment);
        }
    }
    std::stable_sort(shortFragments_.begin(), shortFragments_.end(),
                     [](const ShortFragment& a, const ShortFragment& b) { return (a.key & 0xFF) < (b.key & 0xFF); });
    for (const ShortFragment& fragment : shortFragments_)
        ++shortBegin_[(fragment.key & 0xFF) + 1];
    for (std::size_t byte = 1; byte < shortBegin_.size(); ++byte)
        shortBegin_[byte] += shortBegin_[byte - 1];
    scanner_.build(scanned);
}

std::uint32_t RuleScreen::addFilter(const RulePrefilter& filter) {
    const Range requirements{static_cast<std::uint32_t>(requirements_.size()),
                             static_cast<std::uint32_t>(requirements_.size() + filter.requirements().size())};
    for (const auto& anyOf : filter.requirements()) {
        Range fragments{static_cast<std::uint32_t>(fragmentNumbers_.size()), 0};
        for (const std::string& fragment : anyOf)
            fragmentNumbers_.push_back(fragmentNumber(fragment, filter.caseInsensitive()));
        fragments.end = static_cast<std::uint32_t>(fragmentNumbers_.size());
        requirements_.push_back(fragments);
    }
    filters_.push_back(requirements);
    return static_cast<std::uint32_t>(filters_.size() - 1);
}

std::uint32_t RuleScreen::fragmentNumber(const std::string& text, bool caseInsensitive) {
    const bool caseSensitive = !caseInsensitive;
    const auto known = std::find_if(fragments_.begin(), fragments_.end(), [&](const Fragment& fragment) {
        return fragment.text == text && fragment.caseSensitive == caseSensitive;
    });
    if (known != fragments_.end()) return static_cast<std::uint32_t>(known - fragments_.begin());
    // A case-insensitive filter's fragments are folded already.
    fragments_.push_back({text, RulePrefilter::foldForMatching(text), caseSensitive});
    return static_cast<std::uint32_t>(fragments_.size() - 1);
}

std::span<const std::uint8_t> RuleScreen::Candidates::alternatives(std::size_t index) const {
    const Range range = screen_->rules_[index].alternatives;
    return std::span<const std::uint8_t>(filters_).subspan(range.begin, range.end - range.begin);
}

RuleScreen::Candidates RuleScreen::candidates(std::string_view text) const {
    const std::string folded = RulePrefilter::foldForMatching(text);
    // Per fragment: 0 absent, 1 present, 2 present when folded and still to be confirmed as it is.
    std::vector<std::uint8_t> present(fragments_.size(), 0);
    const auto foundFolded = [&](std::uint32_t number) { present[number] = fragments_[number].caseSensitive ? 2 : 1; };
    std::vector<std::uint64_t> seen((scannedFragments_.size() + 63) / 64, 0);
    std::vector<std::uint32_t> found;
    scanner_.scan(folded, seen, found);
    for (const std::uint32_t number : found)
        foundFolded(scannedFragments_[number]);
    static_assert(FragmentScanner::kMinimumLength <= 4, "a short fragment fits the three-byte window");
    // Short fragments by their first byte, each compared as one word; one found is dropped from the
    // ones still looked for, so the bytes that start many of them soon cost nothing.
    std::vector<ShortFragment> pending = shortFragments_;
    std::array<std::uint32_t, 256> pendingEnd{};
    std::copy(shortBegin_.begin() + 1, shortBegin_.end(), pendingEnd.begin());
    std::array<std::uint32_t, 256> pendingSingles = singleBytes_;
    std::size_t remaining = pending.size();
    for (std::size_t i = 0; i < folded.size() && remaining > 0; ++i) {
        const auto first = static_cast<unsigned char>(folded[i]);
        std::uint32_t end = pendingEnd[first];
        if (end == shortBegin_[first]) continue;
        const std::size_t left = folded.size() - i;
        if (pendingSingles[first] == 0) {
            // Only fragments of two or three bytes are left for this byte: the next must be a second byte of one.
            if (left < 2) continue;
            const auto second = static_cast<unsigned char>(folded[i + 1]);
            if (((secondBytes_[first][second >> 6] >> (second & 63)) & 1) == 0) continue;
        }
        std::uint32_t window = 0;
        for (std::size_t k = 0; k < std::min<std::size_t>(left, 3); ++k)
            window |= std::uint32_t{static_cast<unsigned char>(folded[i + k])} << (8 * k);
        for (std::uint32_t k = shortBegin_[first]; k < end;) {
            if (pending[k].length <= left && (window & pending[k].mask) == pending[k].key) {
                foundFolded(pending[k].number);
                pendingSingles[first] -= pending[k].length == 1 ? 1 : 0;
                pending[k] = pending[--end];
                --remaining;
            } else {
                ++k;
            }
        }
        pendingEnd[first] = end;
    }
    const auto isPresent = [&](std::uint32_t number) {
        if (present[number] == 2)
            present[number] = text.find(fragments_[number].text) != std::string_view::npos ? 1 : 0;
        return present[number] == 1;
    };
    const auto passes = [&](std::uint32_t filter) {
        const Range requirements = filters_[filter];
        for (std::uint32_t r = requirements.begin; r < requirements.end; ++r) {
            const Range anyOf = requirements_[r];
            bool met = false;
            for (std::uint32_t f = anyOf.begin; f < anyOf.end && !met; ++f)
                met = isPresent(fragmentNumbers_[f]);
            if (!met) return false;
        }
        return true;
    };
    Candidates candidates;
    candidates.screen_ = this;
    candidates.rules_.assign(rules_.size(), 0);
    candidates.filters_.assign(filters_.size(), 0);
    for (std::size_t index = 0; index < rules_.size(); ++index) {
        const Rule& rule = rules_[index];
        if (!passes(rule.filter)) continue;
        bool any = rule.alternatives.begin == rule.alternatives.end;
        for (std::uint32_t alternative = rule.alternatives.begin; alternative < rule.alternatives.end; ++alternative) {
            candidates.filters_[alternative] = passes(alternative) ? 1 : 0;
            any = any || candidates.filters_[alternative] != 0;
        }
        candidates.rules_[index] = any ? 1 : 0;
    }
    return candidates;
}

}  // namespace tessaril
