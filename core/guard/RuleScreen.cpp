// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/RuleScreen.h"

#include <algorithm>

namespace tessaril {

RuleScreen::RuleScreen(const std::vector<CompiledRule>& rules) {
    for (const CompiledRule& rule : rules) {
        Rule entry{addFilter(rule.prefilter), {}};
        entry.alternatives.begin = static_cast<std::uint32_t>(filters_.size());
        for (const RulePrefilter& alternative : rule.alternativePrefilters)
            addFilter(alternative);
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
            shortFragments_[static_cast<unsigned char>(folded[0])].push_back(number);
            ++shortFragmentCount_;
        }
    }
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

std::vector<bool> RuleScreen::candidates(std::string_view text) const {
    const std::string folded = RulePrefilter::foldForMatching(text);
    // Per fragment: 0 absent, 1 present, 2 present when folded and still to be confirmed as it is.
    std::vector<std::uint8_t> present(fragments_.size(), 0);
    const auto foundFolded = [&](std::uint32_t number) { present[number] = fragments_[number].caseSensitive ? 2 : 1; };
    std::vector<std::uint64_t> seen((scannedFragments_.size() + 63) / 64, 0);
    std::vector<std::uint32_t> found;
    scanner_.scan(folded, seen, found);
    for (const std::uint32_t number : found)
        foundFolded(scannedFragments_[number]);
    std::uint32_t shortFound = 0;
    for (std::size_t i = 0; i < folded.size() && shortFound < shortFragmentCount_; ++i) {
        for (const std::uint32_t number : shortFragments_[static_cast<unsigned char>(folded[i])]) {
            if (present[number] == 0 &&
                folded.compare(i, fragments_[number].folded.size(), fragments_[number].folded) == 0) {
                foundFolded(number);
                ++shortFound;
            }
        }
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
    std::vector<bool> candidates(rules_.size(), false);
    for (std::size_t index = 0; index < rules_.size(); ++index) {
        const Rule& rule = rules_[index];
        if (!passes(rule.filter)) continue;
        bool any = rule.alternatives.begin == rule.alternatives.end;
        for (std::uint32_t alternative = rule.alternatives.begin; alternative < rule.alternatives.end && !any;
             ++alternative)
            any = passes(alternative);
        candidates[index] = any;
    }
    return candidates;
}

}  // namespace tessaril
