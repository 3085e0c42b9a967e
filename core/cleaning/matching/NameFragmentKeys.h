// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaril {

// Which of many literal-fragment filters a short text (a parameter name) may pass, found in one
// walk over the text instead of one substring search per filter and fragment.
//
// Each entry is keyed on one of its requirements (one of whose fragments every passing text holds):
// on the first one to three bytes of each of that requirement's fragments. A text offers the
// entries whose key bytes start at one of its positions, and those keyed on nothing. That is a
// necessary condition only; the caller still asks the entry's own filter.
class NameFragmentKeys {
public:
    // Adds the next entry (numbered from 0 in the order added), given its filter's requirements.
    void add(const std::vector<std::vector<std::string>>& requirements);
    [[nodiscard]] std::size_t size() const { return count_; }

    // Sets the bit of each entry `text` may pass in `entries`, which is resized and overwritten.
    void find(std::string_view text, std::vector<std::uint64_t>& entries) const;

private:
    static constexpr std::size_t kMaximumKeyLength = 3;
    static constexpr unsigned kHashBits = 12;

    [[nodiscard]] static std::uint32_t key(const char* bytes, std::size_t length) {
        std::uint32_t packed = static_cast<std::uint32_t>(length) << 24U;
        for (std::size_t i = 0; i < length; ++i)
            packed |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8U * i);
        return packed;
    }
    [[nodiscard]] static std::uint32_t hash(std::uint32_t key) { return (key * 0x9E3779B1U) >> (32 - kHashBits); }

    // (key, entry), sorted; a bit per key hash, which turns most positions away without a search.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> keys_;
    std::array<std::uint64_t, (std::size_t{1} << kHashBits) / 64> present_{};
    // Whether any key has this many bytes (index 1 to 3).
    std::array<bool, kMaximumKeyLength + 1> lengths_{};
    std::vector<std::uint64_t> always_;
    std::uint32_t count_ = 0;
};

}  // namespace tessaril
