// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tessaril {

// A hash for the short texts looked up for every link (host names and their parent domains,
// parameter names): inline and a few instructions per eight bytes, where the standard library's
// string hash is a call of some sixty for a host name. The last steps mix every byte into the low
// bits too, which open addressing and one-bit filters index by. Stable within a process only.
[[nodiscard]] inline std::size_t shortTextHash(std::string_view text) {
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15U;
    const char* data = text.data();
    const std::size_t size = text.size();
    const auto load = [](const char* from, auto word) {
        std::memcpy(&word, from, sizeof word);
        return static_cast<std::uint64_t>(word);
    };
    std::uint64_t hash = size * kMultiplier;
    // Whole words, then the last eight bytes (overlapping what came before); a text of fewer than
    // eight bytes as two overlapping four-byte halves, or byte by byte below four. The length,
    // mixed in first, tells apart texts whose loaded words are the same.
    std::uint64_t last = 0;
    if (size >= 8) {
        for (std::size_t at = 0; at + 8 < size; at += 8) {
            hash = (hash ^ load(data + at, std::uint64_t{})) * kMultiplier;
            hash ^= hash >> 29;
        }
        last = load(data + size - 8, std::uint64_t{});
    } else if (size >= 4) {
        last = load(data, std::uint32_t{}) | load(data + size - 4, std::uint32_t{}) << 32;
    } else {
        for (std::size_t i = 0; i < size; ++i)
            last = last << 8 | static_cast<unsigned char>(data[i]);
    }
    hash = (hash ^ last) * kMultiplier;
    hash ^= hash >> 32;
    hash *= 0xD6E8FEB86659FD93U;
    hash ^= hash >> 32;
    return static_cast<std::size_t>(hash);
}

}  // namespace tessaril
