// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// What the rules engine works out once about one link text, for all the questions it is then asked
// about it: which indexed literal fragments occur in it (case-insensitively, as ICU compares), and
// the provider exception answers found so far. Filled by RulesEngine::scan and refreshed by the
// engine when its rules have been reloaded since. It views the text, which must outlive its use.
// Reusing one LinkScan from link to link keeps its buffers, so a scan does not allocate.
class LinkScan {
public:
    [[nodiscard]] std::string_view text() const { return text_; }
    [[nodiscard]] bool hasFragment(std::uint32_t fragment) const {
        return fragment / 64 < fragmentBits_.size() && ((fragmentBits_[fragment / 64] >> (fragment % 64)) & 1U) != 0;
    }

private:
    friend class FragmentIndex;
    friend class RulesEngine;

    std::string_view text_;
    // The text case-folded, when it is not all ASCII (the fragments are found in the folding).
    std::string folded_;
    // One bit per fragment of the index, and the fragments found, each once (to clear the bits).
    std::vector<std::uint64_t> fragmentBits_;
    std::vector<std::uint32_t> fragmentsFound_;
    // One bit per filter of the index whose first requirement is met, and per filter group with such
    // a filter.
    std::vector<std::uint64_t> liveFilters_;
    std::vector<std::uint64_t> liveGroups_;
    // Per requirement tail of the index: 0 not yet asked, 1 not met, 2 met.
    mutable std::vector<std::uint8_t> tailAnswers_;
    // Per provider: 0 not yet asked, 1 not an exception, 2 an exception.
    std::vector<std::uint8_t> exceptionAnswers_;
    // The engine's rule generation the fragments were found with.
    std::uint64_t generation_ = 0;
};

}  // namespace tessaril
