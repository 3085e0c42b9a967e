// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/FragmentScanner.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

namespace tessaril {

namespace {

constexpr std::uint32_t kFold = 0x20202020U;

// The four bytes at `p` as a key, each with its 0x20 bit set: an ASCII capital then reads as its
// small letter. Other bytes may collide with one another too; the comparison after a hit is exact.
std::uint32_t windowKey(const unsigned char* p) {
    return (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24) |
           kFold;
}

// Roughly how often a byte occurs in link text (commands are much alike), in percent: letters by their frequency in
// English words, the separators of links, and rarer digits and other bytes.
constexpr double frequency(unsigned char byte) {
    // a..z
    constexpr double kLetters[] = {6.1, 1.1, 2.1, 3.2, 9.5, 1.7, 1.5, 4.6, 5.3, 0.1, 0.6, 3.0, 1.8,
                                   5.0, 5.6, 1.4, 0.1, 4.5, 4.7, 6.8, 2.1, 0.8, 1.8, 0.1, 1.5, 0.1};
    const auto lower = static_cast<unsigned char>(byte | 0x20);
    if (lower >= 'a' && lower <= 'z') return kLetters[lower - 'a'];
    switch (byte) {
        case '/':
            return 8;
        case '.':
            return 5;
        case '-':
        case '=':
            return 2;
        case '_':
        case '&':
        case '%':
        case ':':
            return 1;
        default:
            return byte >= '0' && byte <= '9' ? 0.5 : 0.3;
    }
}

// frequency() of every byte, looked up for each window of every fragment at each build.
constexpr auto kFrequencies = [] {
    std::array<double, 256> table{};
    for (std::size_t byte = 0; byte < table.size(); ++byte)
        table[byte] = frequency(static_cast<unsigned char>(byte));
    return table;
}();

// Windows that most links contain: anchoring on one of them would compare the fragment in nearly
// every link.
constexpr std::string_view kCommonText[] = {"https://www.", ".com/", ".org/", ".net/", ".html", "?utm_", "&utm_"};

// `count` bytes at `p`, the first in the lowest bits.
constexpr std::uint64_t littleEndianBytes(const char* p, std::size_t count) {
    std::uint64_t word = 0;
    for (std::size_t i = count; i-- > 0;)
        word = word << 8 | static_cast<unsigned char>(p[i]);
    return word;
}

// Every four-byte window of the common text, as littleEndianBytes reads it: compared as numbers,
// since each fragment's every window is asked about.
constexpr auto kCommonWindows = [] {
    constexpr std::size_t kCount = [] {
        std::size_t count = 0;
        for (const std::string_view common : kCommonText)
            count += common.size() - 3;
        return count;
    }();
    std::array<std::uint32_t, kCount> windows{};
    std::size_t at = 0;
    for (const std::string_view common : kCommonText) {
        for (std::size_t offset = 0; offset + 4 <= common.size(); ++offset)
            windows[at++] = static_cast<std::uint32_t>(littleEndianBytes(common.data() + offset, 4));
    }
    return windows;
}();

bool isCommon(const char* window) {
    const auto bytes = static_cast<std::uint32_t>(littleEndianBytes(window, 4));
    return std::find(kCommonWindows.begin(), kCommonWindows.end(), bytes) != kCommonWindows.end();
}

// The set bits of `bits`; the processors this is built for need not have an instruction for it.
std::uint32_t bitCount(std::uint64_t bits) {
    bits -= (bits >> 1) & 0x5555555555555555U;
    bits = (bits & 0x3333333333333333U) + ((bits >> 2) & 0x3333333333333333U);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FU;
    return static_cast<std::uint32_t>((bits * 0x0101010101010101U) >> 56);
}

std::uint64_t littleEndianWord(const char* p) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, 8);
        return word;
    }
    return littleEndianBytes(p, 8);
}

// Each byte of `word` from 'A' to 'Z' made small, the others left alone.
std::uint64_t lowerAsciiWord(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101U;
    constexpr std::uint64_t kHigh = 0x8080808080808080U;
    const std::uint64_t low = word & ~kHigh;
    // Seven-bit values plus these stay below 0x100, so no byte carries into the next.
    const std::uint64_t atLeastA = low + kOnes * (0x80 - 'A');
    const std::uint64_t pastZ = low + kOnes * (0x80 - 'Z' - 1);
    const std::uint64_t capitals = atLeastA & ~pastZ & ~word & kHigh;
    return word | capitals >> 2;
}

// Up to eight bytes of text at `at` (of `length` wanted, `available` there, at least as many),
// lower-cased in ASCII, the first in the lowest bits and zero bytes past `length`: a fragment's last
// word is padded with zero bytes, and so is the text's.
std::uint64_t loweredChunk(const char* at, std::size_t length, std::size_t available) {
    const std::size_t count = std::min<std::size_t>(8, length);
    std::uint64_t bytes = available >= 8 ? littleEndianWord(at) : littleEndianBytes(at, count);
    if (count < 8) bytes &= (std::uint64_t{1} << (8 * count)) - 1;
    return lowerAsciiWord(bytes);
}

}  // namespace

void FragmentScanner::clear() {
    pool_.clear();
    bits_.fill(0);
    rank_.fill(0);
    anchorBegin_.clear();
    anchors_.clear();
}

void FragmentScanner::build(const std::vector<std::string>& fragments) {
    clear();
    // Each fragment's window: not one most links hold, then the one least likely to be met, counting
    // the fragments already anchored on it (each is compared where the window is met).
    std::unordered_map<std::uint32_t, std::uint32_t> keyUse;
    keyUse.reserve(fragments.size());
    std::vector<Anchor> anchors;
    anchors.reserve(fragments.size());
    for (std::uint32_t f = 0; f < fragments.size(); ++f) {
        const std::string& fragment = fragments[f];
        if (fragment.size() < kMinimumLength) continue;  // a caller's mistake; such a fragment is never found
        std::uint32_t best = 0;
        double bestCost = 0;
        for (std::uint32_t offset = 0; offset + kMinimumLength <= fragment.size(); ++offset) {
            const auto* window = reinterpret_cast<const unsigned char*>(fragment.data() + offset);
            // The cost with no fragment anchored on the window yet; more anchored ones only ever cost
            // more (each rounded product is monotonic in its first factor), so a window that would not
            // win even so is not looked up.
            double cost = 1.0;
            for (std::size_t i = 0; i < kMinimumLength; ++i)
                cost *= kFrequencies[window[i]];
            if (offset != 0 && cost >= bestCost) continue;
            if (const auto use = keyUse.find(windowKey(window)); use != keyUse.end()) {
                cost = 1.0 + use->second;
                for (std::size_t i = 0; i < kMinimumLength; ++i)
                    cost *= kFrequencies[window[i]];
            }
            // A common window only ever costs more, so only one that would win is looked up.
            if (offset != 0 && cost >= bestCost) continue;
            if (isCommon(fragment.data() + offset)) cost += 1e12;
            if (offset == 0 || cost < bestCost) {
                bestCost = cost;
                best = offset;
            }
        }
        const std::uint32_t key = windowKey(reinterpret_cast<const unsigned char*>(fragment.data() + best));
        ++keyUse[key];
        const auto pool = static_cast<std::uint32_t>(pool_.size());
        for (std::size_t j = 0; j < fragment.size(); j += 8)
            pool_.push_back(littleEndianBytes(fragment.data() + j, std::min<std::size_t>(8, fragment.size() - j)));
        anchors.push_back(Anchor{key, f, best, static_cast<std::uint32_t>(fragment.size()), pool});
    }
    // Anchors ordered by their bit, so each set bit's anchors are contiguous.
    std::sort(anchors.begin(), anchors.end(), [](const Anchor& a, const Anchor& b) {
        return hash(a.key) != hash(b.key) ? hash(a.key) < hash(b.key) : a.fragment < b.fragment;
    });
    for (const Anchor& anchor : anchors) {
        const std::uint32_t h = hash(anchor.key);
        if ((bits_[h / 64] >> (h % 64) & 1U) == 0) {
            bits_[h / 64] |= std::uint64_t{1} << (h % 64);
            anchorBegin_.push_back(static_cast<std::uint32_t>(anchors_.size()));
        }
        anchors_.push_back(anchor);
    }
    anchorBegin_.push_back(static_cast<std::uint32_t>(anchors_.size()));
    std::uint32_t before = 0;
    for (std::size_t word = 0; word < kWords; ++word) {
        rank_[word] = before;
        before += bitCount(bits_[word]);
    }
}

bool FragmentScanner::scan(std::string_view text, std::vector<std::uint64_t>& seen,
                           std::vector<std::uint32_t>& found) const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::uint32_t high = 0;
    if (size < kMinimumLength) {
        for (std::size_t i = 0; i < size; ++i)
            high |= bytes[i];
        return high < 0x80;
    }
    // The key is not kept for a hit: the rare check reads it again from the text, which spares the
    // common miss a register copy.
    const auto test = [&](std::uint32_t key, std::size_t position) {
        const std::uint32_t h = hash(key);
        if ((bits_[h / 64] >> (h % 64) & 1U) != 0) check(position, text, seen, found);
    };
    std::size_t position = 0;
    std::uint64_t highWords = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes at a time hold the windows at five offsets; the last few are read on their own.
        // The word is shifted along in place, one byte per window.
        for (; position + 8 <= size; position += 5) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + position, 8);
            highWords |= word;
            std::uint64_t folded = word | 0x2020202020202020U;
            for (unsigned k = 0; k < 5; ++k, folded >>= 8)
                test(static_cast<std::uint32_t>(folded), position + k);
        }
    }
    high = static_cast<std::uint32_t>(highWords | highWords >> 32);
    for (; position + kMinimumLength <= size; ++position) {
        high |= std::uint32_t{bytes[position]} | bytes[position + 1] | bytes[position + 2] | bytes[position + 3];
        test(windowKey(bytes + position), position);
    }
    return (high & 0x80808080U) == 0;
}

void FragmentScanner::check(std::size_t position, std::string_view text, std::vector<std::uint64_t>& seen,
                            std::vector<std::uint32_t>& found) const {
    const std::uint32_t key = windowKey(reinterpret_cast<const unsigned char*>(text.data() + position));
    const std::uint32_t h = hash(key);
    const std::uint64_t below = bits_[h / 64] & ((std::uint64_t{1} << (h % 64)) - 1);
    const std::uint32_t bit = rank_[h / 64] + bitCount(below);
    for (std::uint32_t k = anchorBegin_[bit]; k != anchorBegin_[bit + 1]; ++k) {
        const Anchor& anchor = anchors_[k];
        if (anchor.key != key || anchor.offset > position) continue;
        std::uint64_t& word = seen[anchor.fragment / 64];
        const std::uint64_t mask = std::uint64_t{1} << (anchor.fragment % 64);
        if ((word & mask) != 0) continue;
        const std::size_t start = position - anchor.offset;
        if (anchor.length > text.size() - start) continue;
        // Most near misses differ in the first eight bytes, compared here without a call.
        const char* at = text.data() + start;
        const std::size_t available = text.size() - start;
        if (loweredChunk(at, anchor.length, available) != pool_[anchor.pool]) continue;
        if (anchor.length > 8 && !matches(anchor, at, available)) continue;
        word |= mask;
        found.push_back(anchor.fragment);
    }
}

bool FragmentScanner::matches(const Anchor& anchor, const char* at, std::size_t available) const {
    std::uint64_t differ = 0;
    for (std::uint32_t j = 8; j < anchor.length; j += 8)
        differ |= loweredChunk(at + j, anchor.length - j, available - j) ^ pool_[anchor.pool + j / 8];
    return differ == 0;
}

}  // namespace tessaril
