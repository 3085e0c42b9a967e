// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stores/HostName.h"

#include "core/foundation/Text.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessaril {

namespace {

constexpr std::size_t kMaximumNameLength = 253;
constexpr std::size_t kMaximumLabelLength = 63;
// Far more than the UTF-8 of any name that fits in 253 ASCII characters; longer text (a pasted page,
// say) is refused before it reaches ICU.
constexpr std::size_t kMaximumTextBytes = 1024;

bool isLowerLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// [a-z0-9](?:[a-z0-9-]*[a-z0-9])?, whole label.
bool isHostLabel(std::string_view label) {
    if (label.empty() || label.size() > kMaximumLabelLength) return false;
    if (!isLowerLetterOrDigit(label.front()) || !isLowerLetterOrDigit(label.back())) return false;
    for (char c : label) {
        if (!isLowerLetterOrDigit(c) && c != '-') return false;
    }
    return true;
}

bool isLowerCaseName(std::string_view name) {
    if (name.size() > kMaximumNameLength || name.find('.') == std::string_view::npos) return false;
    while (true) {
        const auto dot = name.find('.');
        if (!isHostLabel(name.substr(0, dot))) return false;
        if (dot == std::string_view::npos) return true;
        name.remove_prefix(dot + 1);
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Four decimal octets, 0 to 255, without leading zeros.
std::optional<std::array<std::uint8_t, 4>> parseIPv4(std::string_view text) {
    std::array<std::uint8_t, 4> octets{};
    for (std::size_t index = 0; index < octets.size(); ++index) {
        const auto dot = text.find('.');
        const std::string_view digits = text.substr(0, dot);
        if ((index < 3) == (dot == std::string_view::npos)) return std::nullopt;
        if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
        int value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (value > 255) return std::nullopt;
        octets.at(index) = static_cast<std::uint8_t>(value);
        if (dot != std::string_view::npos) text.remove_prefix(dot + 1);
    }
    return octets;
}

using IPv6Groups = std::array<std::uint16_t, 8>;

// RFC 4291 text: eight groups of 1 to 4 hex digits, or fewer with one "::" standing for the zero
// groups left out, the last two optionally written as an IPv4 address.
std::optional<IPv6Groups> parseIPv6(std::string_view text) {
    IPv6Groups written{};
    std::size_t count = 0;
    std::optional<std::size_t> gap;
    if (text.starts_with("::")) {
        gap = 0;
        text.remove_prefix(2);
    }
    while (!text.empty()) {
        const auto colon = text.find(':');
        const std::string_view piece = text.substr(0, colon);
        if (piece.find('.') != std::string_view::npos) {
            const auto octets = parseIPv4(piece);
            if (!octets || colon != std::string_view::npos || count > 6) return std::nullopt;
            written.at(count++) = static_cast<std::uint16_t>(((*octets)[0] << 8) | (*octets)[1]);
            written.at(count++) = static_cast<std::uint16_t>(((*octets)[2] << 8) | (*octets)[3]);
            break;
        }
        if (piece.empty() || piece.size() > 4 || count == written.size()) return std::nullopt;
        std::uint16_t group = 0;
        for (char c : piece) {
            const int digit = hexValue(c);
            if (digit < 0) return std::nullopt;
            group = static_cast<std::uint16_t>((group << 4) | digit);
        }
        written.at(count++) = group;
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
        if (text.starts_with(':')) {
            if (gap) return std::nullopt;
            gap = count;
            text.remove_prefix(1);
        } else if (text.empty()) {
            return std::nullopt;  // a single trailing ":"
        }
    }
    if (!gap) {
        if (count != written.size()) return std::nullopt;
        return written;
    }
    if (count == written.size()) return std::nullopt;  // "::" must stand for at least one group
    IPv6Groups groups{};
    const std::size_t after = count - *gap;
    for (std::size_t i = 0; i < *gap; ++i)
        groups.at(i) = written.at(i);
    for (std::size_t i = 0; i < after; ++i)
        groups.at(groups.size() - after + i) = written.at(*gap + i);
    return groups;
}

// RFC 5952: lower-case hex without leading zeros, the longest run of two or more zero groups (the
// first of equal runs) written as "::".
std::string ipv6Text(const IPv6Groups& groups) {
    std::size_t runStart = groups.size();
    std::size_t runLength = 1;
    for (std::size_t i = 0; i < groups.size();) {
        std::size_t end = i;
        while (end < groups.size() && groups.at(end) == 0)
            ++end;
        if (end - i > runLength) {
            runStart = i;
            runLength = end - i;
        }
        i = end == i ? i + 1 : end;
    }
    static constexpr std::string_view kDigits = "0123456789abcdef";
    std::string text = "[";
    for (std::size_t i = 0; i < groups.size(); ++i) {
        if (i == runStart) {
            text += "::";
            i += runLength - 1;
            continue;
        }
        if (i > 0 && i != runStart + runLength) text += ':';
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const auto digit = static_cast<std::size_t>((groups.at(i) >> shift) & 0xf);
            if (digit == 0 && !started && shift > 0) continue;
            started = true;
            text += kDigits.at(digit);
        }
    }
    return text + "]";
}

}  // namespace

std::optional<std::string> canonicalHostName(std::string_view text) {
    if (text.size() > kMaximumTextBytes) return std::nullopt;
    if (text.starts_with('[')) {
        if (!text.ends_with(']')) return std::nullopt;
        const auto groups = parseIPv6(text.substr(1, text.size() - 2));
        if (!groups) return std::nullopt;
        return ipv6Text(*groups);
    }
    std::string name;
    if (text::asciiRunEnd(text) == text.size()) {
        name = text::asciiLower(text);
    } else {
        auto ascii = text::hostNameToASCII(text);
        if (!ascii) return std::nullopt;
        name = std::move(*ascii);
    }
    if (!isLowerCaseName(name)) return std::nullopt;
    return name;
}

}  // namespace tessaril
