// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/ContentDigest.h"

#include <array>
#include <cstring>

namespace tessaril {

namespace {

constexpr std::uint64_t kMultiplier = 0x9FB21C651E98DF25ULL;

std::uint64_t mix(std::uint64_t state, std::uint64_t word) {
    state = (state ^ word) * kMultiplier;
    return state ^ (state >> 29);
}

std::uint64_t load(const char* bytes) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

}  // namespace

std::uint64_t contentDigest(std::string_view bytes) {
    // Four independent lanes, so that the multiplications overlap; the lengths keep a file and
    // the same file with zero bytes appended apart.
    std::array<std::uint64_t, 4> lanes = {0x243F6A8885A308D3ULL, 0x13198A2E03707344ULL, 0xA4093822299F31D0ULL,
                                          0x082EFA98EC4E6C89ULL};
    const char* at = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 32; at += 32, left -= 32) {
        for (std::size_t lane = 0; lane < lanes.size(); ++lane)
            lanes[lane] = mix(lanes[lane], load(at + 8 * lane));
    }
    std::array<char, 32> tail{};
    if (left != 0) std::memcpy(tail.data(), at, left);
    for (std::size_t lane = 0; lane < lanes.size(); ++lane)
        lanes[lane] = mix(lanes[lane], load(tail.data() + 8 * lane));
    std::uint64_t digest = mix(0, bytes.size());
    for (const std::uint64_t lane : lanes)
        digest = mix(digest, lane);
    return mix(digest, digest >> 31);
}

}  // namespace tessaril
