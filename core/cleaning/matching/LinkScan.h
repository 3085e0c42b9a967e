// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// Which literal fragments of a FragmentIndex occur in one text (case-insensitively, as ICU
// compares), and so which of its filters and groups the text may pass. Filled by
// FragmentIndex::scan; it views the text, which must outlive its use. Reusing one LinkScan from
// link to link keeps its buffers, so a scan does not allocate.
class LinkScan {
public:
    [[nodiscard]] std::string_view text() const { return text_; }
    [[nodiscard]] bool hasFragment(std::uint32_t fragment) const {
        return fragment / 64 < fragmentBits_.size() && ((fragmentBits_[fragment / 64] >> (fragment % 64)) & 1U) != 0;
    }

private:
    friend class FragmentIndex;

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
};

}  // namespace tessaril
