// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/ProviderIndex.h"

#include <algorithm>
#include <bit>
#include <deque>
#include <unordered_map>

namespace tessaril {

namespace {

void setBit(std::vector<std::uint64_t>& bits, std::uint32_t index) {
    bits[index / 64] |= std::uint64_t{1} << (index % 64);
}

}  // namespace

void ProviderIndex::build(const std::vector<std::string_view>& patterns) {
    filters_.clear();
    fragments_.clear();
    fragmentProviders_.clear();
    const std::size_t words = (patterns.size() + 63) / 64;
    always_.assign(words, 0);
    marked_.assign(words, 0);
    std::unordered_map<std::string, std::uint32_t> fragmentNumbers;
    for (std::uint32_t i = 0; i < patterns.size(); ++i) {
        filters_.push_back(RulePrefilter::fromPattern(patterns[i], true));
        const auto& requirements = filters_.back().requirements();
        // The first requirement is the most selective one; the others are checked per candidate.
        if (requirements.empty() || requirements.front().empty() ||
            std::any_of(requirements.front().begin(), requirements.front().end(),
                        [](const std::string& fragment) { return fragment.empty(); })) {
            setBit(always_, i);
            continue;
        }
        for (const auto& fragment : requirements.front()) {
            auto [it, added] = fragmentNumbers.try_emplace(fragment, static_cast<std::uint32_t>(fragments_.size()));
            if (added) {
                fragments_.push_back(fragment);
                fragmentProviders_.emplace_back();
            }
            auto& providers = fragmentProviders_[it->second];
            if (providers.empty() || providers.back() != i) providers.push_back(i);
        }
    }
    buildAutomaton();
}

void ProviderIndex::buildAutomaton() {
    // Bytes that occur in no fragment share class 0, which always leads back towards the root.
    std::fill(std::begin(byteClass_), std::end(byteClass_), 0);
    classCount_ = 1;
    for (const auto& fragment : fragments_) {
        for (char c : fragment) {
            auto& cls = byteClass_[static_cast<unsigned char>(c)];
            if (cls == 0) cls = static_cast<std::uint8_t>(classCount_++);
        }
    }
    // The trie first; 0 in next_ means "no edge" until the failure links fill it in.
    next_.assign(classCount_, 0);
    output_.assign(1, {});
    for (std::uint32_t f = 0; f < fragments_.size(); ++f) {
        std::uint32_t state = 0;
        for (char c : fragments_[f]) {
            const std::size_t slot = state * classCount_ + byteClass_[static_cast<unsigned char>(c)];
            if (next_[slot] == 0) {
                next_[slot] = static_cast<std::uint32_t>(output_.size());
                output_.emplace_back();
                next_.resize(next_.size() + classCount_, 0);
            }
            state = next_[slot];
        }
        output_[state].push_back(f);
    }
    // Breadth first: each state's missing edges follow its failure state's, and it inherits the
    // failure state's outputs.
    std::vector<std::uint32_t> failure(output_.size(), 0);
    std::deque<std::uint32_t> queue;
    for (std::uint32_t cls = 0; cls < classCount_; ++cls) {
        if (const std::uint32_t child = next_[cls]; child != 0) queue.push_back(child);
    }
    while (!queue.empty()) {
        const std::uint32_t state = queue.front();
        queue.pop_front();
        const auto& inherited = output_[failure[state]];
        output_[state].insert(output_[state].end(), inherited.begin(), inherited.end());
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
}

void ProviderIndex::candidates(std::string_view foldedURL, std::vector<std::uint32_t>& out) const {
    out.clear();
    if (next_.empty()) return;  // never built: no providers
    std::copy(always_.begin(), always_.end(), marked_.begin());
    std::uint32_t state = 0;
    for (char c : foldedURL) {
        state = next_[state * classCount_ + byteClass_[static_cast<unsigned char>(c)]];
        for (std::uint32_t fragment : output_[state]) {
            for (std::uint32_t provider : fragmentProviders_[fragment])
                setBit(marked_, provider);
        }
    }
    for (std::size_t word = 0; word < marked_.size(); ++word) {
        std::uint64_t bits = marked_[word];
        while (bits != 0) {
            const auto index = static_cast<std::uint32_t>(word * 64 + static_cast<std::size_t>(std::countr_zero(bits)));
            bits &= bits - 1;
            // The remaining requirements of an indexed provider are cheap substring checks.
            if (filters_[index].mayMatch(foldedURL, foldedURL)) out.push_back(index);
        }
    }
}

std::size_t ProviderIndex::alwaysEvaluatedCount() const {
    std::size_t count = 0;
    for (std::uint64_t word : always_)
        count += static_cast<std::size_t>(std::popcount(word));
    return count;
}

}  // namespace tessaril
