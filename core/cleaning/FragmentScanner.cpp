// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/FragmentScanner.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>

namespace tessaril {

namespace {

constexpr std::uint32_t kFold = 0x00202020U;

// The three bytes at `p` as a key, each with its 0x20 bit set: an ASCII capital then reads as its
// small letter. Other bytes may collide with one another too; the comparison after a hit is exact.
std::uint32_t windowKey(const unsigned char* p) {
    return (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16) | kFold;
}

// How rarely a byte occurs in links, roughly: letters by their frequency in English, then digits and
// other bytes; the separators every link has are the commonest.
unsigned rarity(unsigned char byte) {
    constexpr std::string_view kLettersByFrequency = "etaoinsrhldcumfpgwybvkxjqz";
    const char c = static_cast<char>(byte | 0x20);
    if (const auto at = kLettersByFrequency.find(c); c >= 'a' && c <= 'z' && at != std::string_view::npos)
        return static_cast<unsigned>(at) + 1;
    if (byte >= '0' && byte <= '9') return 10;
    if (std::string_view("/.:-_=?&%").find(static_cast<char>(byte)) != std::string_view::npos) return 0;
    return 20;
}

// Windows that most links contain: anchoring on one of them would compare the fragment in nearly
// every link.
constexpr std::string_view kCommonText[] = {"https://www.", ".com/", ".org/", ".net/", ".html", "?utm_", "&utm_"};

bool isCommon(std::string_view window) {
    return std::any_of(std::begin(kCommonText), std::end(kCommonText),
                       [window](std::string_view common) { return common.find(window) != std::string_view::npos; });
}

// The set bits of `bits`; the processors this is built for need not have an instruction for it.
std::uint32_t bitCount(std::uint64_t bits) {
    bits -= (bits >> 1) & 0x5555555555555555U;
    bits = (bits & 0x3333333333333333U) + ((bits >> 2) & 0x3333333333333333U);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FU;
    return static_cast<std::uint32_t>((bits * 0x0101010101010101U) >> 56);
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

void FragmentScanner::clear() {
    fragments_.clear();
    bits_.fill(0);
    rank_.fill(0);
    anchorBegin_.clear();
    anchors_.clear();
}

void FragmentScanner::build(const std::vector<std::string>& fragments) {
    clear();
    fragments_ = fragments;
    // Each fragment's window: not one most links hold, then the rarest by its bytes, then the one
    // fewest fragments share.
    std::map<std::uint32_t, std::uint32_t> keyUse;
    std::vector<Anchor> anchors;
    for (std::uint32_t f = 0; f < fragments_.size(); ++f) {
        const std::string& fragment = fragments_[f];
        if (fragment.size() < kMinimumLength) continue;  // a caller's mistake; such a fragment is never found
        std::uint32_t best = 0;
        std::uint64_t bestScore = UINT64_MAX;
        for (std::uint32_t offset = 0; offset + kMinimumLength <= fragment.size(); ++offset) {
            const auto* window = reinterpret_cast<const unsigned char*>(fragment.data() + offset);
            const std::uint64_t commonness =
                isCommon(std::string_view(fragment).substr(offset, kMinimumLength)) ? 1 : 0;
            const std::uint64_t rareness = rarity(window[0]) + rarity(window[1]) + rarity(window[2]);
            const std::uint64_t score = (commonness << 40) + ((100 - rareness) << 20) + keyUse[windowKey(window)];
            if (score < bestScore) {
                bestScore = score;
                best = offset;
            }
        }
        const std::uint32_t key = windowKey(reinterpret_cast<const unsigned char*>(fragment.data() + best));
        ++keyUse[key];
        anchors.push_back(Anchor{key, f, best});
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
    const auto test = [&](std::uint32_t key, std::size_t position) {
        const std::uint32_t h = hash(key);
        if ((bits_[h / 64] >> (h % 64) & 1U) != 0) check(key, position, text, seen, found);
    };
    std::size_t position = 0;
    std::uint64_t highWords = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes at a time hold the windows at six offsets; the last few are read on their own.
        for (; position + 8 <= size; position += 6) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + position, 8);
            highWords |= word;
            const std::uint64_t folded = word | 0x2020202020202020U;
            for (unsigned k = 0; k < 6; ++k)
                test(static_cast<std::uint32_t>(folded >> (8 * k)) & 0x00FFFFFFU, position + k);
        }
    }
    high = static_cast<std::uint32_t>(highWords | highWords >> 32);
    for (; position + kMinimumLength <= size; ++position) {
        high |= std::uint32_t{bytes[position]} | bytes[position + 1] | bytes[position + 2];
        test(windowKey(bytes + position), position);
    }
    return (high & 0x80808080U) == 0;
}

void FragmentScanner::check(std::uint32_t key, std::size_t position, std::string_view text,
                            std::vector<std::uint64_t>& seen, std::vector<std::uint32_t>& found) const {
    const std::uint32_t h = hash(key);
    const std::uint64_t below = bits_[h / 64] & ((std::uint64_t{1} << (h % 64)) - 1);
    const std::uint32_t bit = rank_[h / 64] + bitCount(below);
    for (std::uint32_t k = anchorBegin_[bit]; k != anchorBegin_[bit + 1]; ++k) {
        const Anchor& anchor = anchors_[k];
        if (anchor.key != key || anchor.offset > position) continue;
        std::uint64_t& word = seen[anchor.fragment / 64];
        const std::uint64_t mask = std::uint64_t{1} << (anchor.fragment % 64);
        if ((word & mask) != 0) continue;
        const std::string& fragment = fragments_[anchor.fragment];
        const std::size_t start = position - anchor.offset;
        if (fragment.size() > text.size() - start) continue;
        bool equal = true;
        for (std::size_t j = 0; j < fragment.size() && equal; ++j)
            equal = lowerAscii(text[start + j]) == fragment[j];
        if (equal) {
            word |= mask;
            found.push_back(anchor.fragment);
        }
    }
}

}  // namespace tessaril
