// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tessaril {

// A 64-bit digest of some bytes, for telling whether a file is one seen before at under one
// instruction a byte (the standard library's string hash takes about one and a half, SHA-256
// hundreds; every start of the tool digests its rule files). Four lanes take eight bytes each in
// turn, each step a bijection of the lane, so bytes that differ in one word always give another
// digest. It is no defence against a file made to collide: use it only where a collision costs
// speed or tidiness, never safety.
[[nodiscard]] inline std::uint64_t contentDigest(std::string_view bytes) {
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
    const auto step = [](std::uint64_t lane, std::uint64_t word) { return std::rotl((lane ^ word) * kMultiplier, 29); };
    std::array<std::uint64_t, 4> lanes = {0x243F6A8885A308D3ULL, 0x13198A2E03707344ULL, 0xA4093822299F31D0ULL,
                                          0x082EFA98EC4E6C89ULL};
    const std::size_t size = bytes.size();
    std::size_t at = 0;
    for (; at + 32 <= size; at += 32) {
        for (std::size_t k = 0; k < lanes.size(); ++k) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes.data() + at + 8 * k, 8);
            lanes[k] = step(lanes[k], word);
        }
    }
    // The last bytes, each as a word of its own (a value below 256, so no two tails mix alike).
    for (; at < size; ++at)
        lanes[at % lanes.size()] = step(lanes[at % lanes.size()], static_cast<unsigned char>(bytes[at]));
    std::uint64_t digest = size;
    for (const std::uint64_t lane : lanes)
        digest = step(digest, lane);
    return digest ^ (digest >> 31);
}

}  // namespace tessaril
