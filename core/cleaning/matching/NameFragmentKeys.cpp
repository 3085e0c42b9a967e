// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/matching/NameFragmentKeys.h"

#include <algorithm>

namespace tessaril {

void NameFragmentKeys::add(const std::vector<std::vector<std::string>>& requirements) {
    const std::uint32_t entry = count_++;
    if (always_.size() * 64 < count_) always_.push_back(0);
    // The requirement whose shortest fragment is longest gives the most selective keys. One with an
    // empty fragment is met by every text; an empty one by none, which the entry's filter answers.
    const std::vector<std::string>* chosen = nullptr;
    std::size_t chosenLength = 0;
    for (const auto& any : requirements) {
        if (any.empty()) continue;
        std::size_t shortest = SIZE_MAX;
        for (const auto& fragment : any)
            shortest = std::min(shortest, fragment.size());
        shortest = std::min(shortest, kMaximumKeyLength);
        if (shortest > chosenLength || (shortest == chosenLength && chosen != nullptr && any.size() < chosen->size())) {
            chosen = &any;
            chosenLength = shortest;
        }
    }
    if (chosen == nullptr) {
        always_[entry / 64] |= std::uint64_t{1} << (entry % 64);
        return;
    }
    for (const auto& fragment : *chosen) {
        const std::size_t length = std::min(fragment.size(), kMaximumKeyLength);
        const std::uint32_t packed = key(fragment.data(), length);
        const auto at = std::lower_bound(keys_.begin(), keys_.end(), std::pair(packed, entry));
        if (at != keys_.end() && *at == std::pair(packed, entry)) continue;
        keys_.insert(at, {packed, entry});
        present_[hash(packed) / 64] |= std::uint64_t{1} << (hash(packed) % 64);
        lengths_[length] = true;
    }
}

void NameFragmentKeys::find(std::string_view text, std::vector<std::uint64_t>& entries) const {
    entries = always_;
    for (std::size_t i = 0; i < text.size(); ++i) {
        for (std::size_t length = 1; length <= kMaximumKeyLength && i + length <= text.size(); ++length) {
            if (!lengths_[length]) continue;
            const std::uint32_t packed = key(text.data() + i, length);
            const std::uint32_t slot = hash(packed);
            if (((present_[slot / 64] >> (slot % 64)) & 1U) == 0) continue;
            const auto first = std::lower_bound(keys_.begin(), keys_.end(), std::pair(packed, std::uint32_t{0}));
            for (auto at = first; at != keys_.end() && at->first == packed; ++at)
                entries[at->second / 64] |= std::uint64_t{1} << (at->second % 64);
        }
    }
}

}  // namespace tessaril
