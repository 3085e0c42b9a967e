// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RedirectTarget.h"

#include "core/foundation/Text.h"

#include <algorithm>

namespace tessaril {

namespace {

bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view lowerPrefix) {
    return text.size() >= lowerPrefix.size() &&
           std::equal(lowerPrefix.begin(), lowerPrefix.end(), text.begin(), [](char lower, char c) {
               return lower == (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
           });
}

// The bytes of the character that starts at `at`, by its UTF-8 lead byte (cut short at the end).
std::string_view characterAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return text.substr(at, length);
}

bool holdsNonLinkCharacter(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        // Link text is nearly all ASCII, which needs no character of its own cut out.
        if (const auto byte = static_cast<unsigned char>(text[at]); byte < 0x80) {
            if (byte <= 0x20 || byte == 0x7F) return true;
            ++at;
            continue;
        }
        const std::string_view character = characterAt(text, at);
        // U+0080...U+009F: U+009B alone opens a terminal escape, U+0085 ends a line.
        if (character[0] == '\xC2' && character.size() == 2 && static_cast<unsigned char>(character[1]) < 0xA0)
            return true;
        // Other white space (U+00A0, U+2028 and the like): what trimming would remove.
        if (text::trim(character).empty()) return true;
        at += character.size();
    }
    return false;
}

}  // namespace

std::optional<std::string> redirectTarget(std::string_view captured) {
    return decodedRedirectTarget(text::percentDecode(captured).value_or(std::string(captured)));
}

std::optional<std::string> decodedRedirectTarget(std::string target) {
    if (!startsWithIgnoringAsciiCase(target, "http://") && !startsWithIgnoringAsciiCase(target, "https://")) {
        return std::nullopt;
    }
    // The scheme leaves nothing to trim at the front, so this drops only the end.
    target.resize(text::trim(target).size());
    if (holdsNonLinkCharacter(target)) return std::nullopt;
    return target;
}

}  // namespace tessaril
