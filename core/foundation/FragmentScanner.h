// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// Finds which of a fixed set of literal fragments occur in a text, ASCII letters compared without
// case. Each fragment is anchored on one four-byte window of it; the scan hashes the window at
// every offset of the text into an 8 KB bitmap, and only the rare offsets whose bit is set compare
// fragments. The offsets do not depend on one another, so the scan runs at the processor's width
// instead of waiting on each step of an automaton whose table does not fit the first-level cache.
class FragmentScanner {
public:
    // Fragments shorter than this cannot be anchored and must not be given to build().
    static constexpr std::size_t kMinimumLength = 4;

    // `fragments` are lower-case (in ASCII); fragment k is reported as number k.
    void build(const std::vector<std::string>& fragments);

    // Records each fragment occurring in `text` once: its bit is set in `seen` (sized for every
    // fragment) and it is appended to `found`; fragments already seen are left alone. Returns whether
    // the text is all ASCII.
    bool scan(std::string_view text, std::vector<std::uint64_t>& seen, std::vector<std::uint32_t>& found) const;

private:
    void clear();
    static constexpr unsigned kHashBits = 16;
    static constexpr std::size_t kWords = (std::size_t{1} << kHashBits) / 64;

    struct Anchor {
        // The window's bytes as the scan folds them (see windowKey), to turn away hash collisions.
        std::uint32_t key;
        std::uint32_t fragment;
        // Where the window starts in the fragment.
        std::uint32_t offset;
        std::uint32_t length;
        // The fragment's bytes: pool_[pool ..], eight to a word, the first in the lowest bits.
        std::uint32_t pool;
    };

    [[nodiscard]] static std::uint32_t hash(std::uint32_t key) { return (key * 0x9E3779B1U) >> (32 - kHashBits); }
    // Compares the fragments anchored on the window at `position`, whose bit is set.
    void check(std::size_t position, std::string_view text, std::vector<std::uint64_t>& seen,
               std::vector<std::uint32_t>& found) const;
    // Whether the text at `at` holds the rest of the fragment of `anchor` after its first eight bytes
    // (which check() compares); `at` has `available` (at least the fragment's length) bytes.
    [[nodiscard]] bool matches(const Anchor& anchor, const char* at, std::size_t available) const;

    std::vector<std::uint64_t> pool_;
    // One bit per hash of an anchor window; per bitmap word, the number of bits set before it, which
    // numbers a set bit among all set bits: set bit r has anchors_[anchorBegin_[r] .. anchorBegin_[r + 1]).
    std::array<std::uint64_t, kWords> bits_{};
    std::array<std::uint32_t, kWords> rank_{};
    std::vector<std::uint32_t> anchorBegin_;
    std::vector<Anchor> anchors_;
};

}  // namespace tessaril
