// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Base64.h"

#include <array>
#include <cstdint>

namespace tessaril::base64 {

namespace {

// The six bits each character stands for, -1 for any other byte, per alphabet.
constexpr std::array<std::int8_t, 256> valuesFor(char sixtyTwo, char sixtyThree) {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    std::int8_t next = 0;
    for (char c = 'A'; c <= 'Z'; ++c)
        values[static_cast<unsigned char>(c)] = next++;
    for (char c = 'a'; c <= 'z'; ++c)
        values[static_cast<unsigned char>(c)] = next++;
    for (char c = '0'; c <= '9'; ++c)
        values[static_cast<unsigned char>(c)] = next++;
    values[static_cast<unsigned char>(sixtyTwo)] = next++;
    values[static_cast<unsigned char>(sixtyThree)] = next;
    return values;
}

constexpr std::array<std::int8_t, 256> kStandard = valuesFor('+', '/');
constexpr std::array<std::int8_t, 256> kUrlSafe = valuesFor('-', '_');

}  // namespace

std::optional<std::string> decode(std::string_view text, Alphabet alphabet, std::size_t maximumBytes) {
    if (text.empty()) return std::nullopt;
    if (text.size() % 4 == 0) {
        // Padding, when written, must complete the last group exactly.
        std::size_t padding = 0;
        while (padding < 2 && text[text.size() - 1 - padding] == '=')
            ++padding;
        text.remove_suffix(padding);
    }
    if (text.size() % 4 == 1) return std::nullopt;
    const std::size_t bytes = text.size() / 4 * 3 + (text.size() % 4 == 0 ? 0 : text.size() % 4 - 1);
    if (bytes > maximumBytes) return std::nullopt;
    const auto& values = alphabet == Alphabet::standard ? kStandard : kUrlSafe;
    std::string out;
    out.reserve(bytes);
    std::uint32_t bits = 0;
    int held = 0;
    for (const char c : text) {
        const std::int8_t value = values[static_cast<unsigned char>(c)];
        if (value < 0) return std::nullopt;
        bits = (bits << 6U) | static_cast<std::uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<char>((bits >> static_cast<unsigned>(held)) & 0xFFU));
        }
    }
    return out;
}

}  // namespace tessaril::base64
