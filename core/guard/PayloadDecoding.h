// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaril::payload_decoding {

// Each decoder returns the printable payloads it finds in a text, one per line (text, not binary:
// valid UTF-8 with few control characters), or nothing. Work and output are linear in the text.

// Shorter runs of base64 or hex digits are words, paths and numbers far more often than payloads.
inline constexpr std::size_t minimumBase64Run = 16;
inline constexpr std::size_t minimumHexRun = 16;
// Fewer codes in a row are lists of numbers more often than text being spelled out.
inline constexpr std::size_t minimumCharacterCodes = 4;

// Runs of base64, as UTF-8 or as the UTF-16LE of PowerShell's encoded commands.
[[nodiscard]] std::string base64(std::string_view text);
// The text with its `\xHH` escapes replaced when it has at least four (`$'\x63\x75rl'`, `printf`),
// then runs of hex digits (`echo 6375726c... | xxd -r -p`).
[[nodiscard]] std::string hex(std::string_view text);
// The text with its octal escapes (`\NNN`, `\0NNN`) replaced when it has at least four
// (`$'\143\165\162\154'`, `printf '\143...'`, `echo -e '\0143...'`).
[[nodiscard]] std::string octal(std::string_view text);
// Runs of ASCII character codes, decimal or 0x-hex, as PowerShell, Python, Perl and JavaScript spell
// text out: `[char]105+[char]101`, `[char[]](105,101,120)`, `chr(99).chr(117)`, `fromCharCode(99,117)`.
[[nodiscard]] std::string characterCodes(std::string_view text);
// The text shifted by thirteen letters when it passes itself through ROT13 (`tr 'A-Za-z'
// 'N-ZA-Mn-za-m'`, Python's "rot13" codec): the hidden part comes out readable, the rest scrambled.
[[nodiscard]] std::string rot13(std::string_view text);
// The text with its quoted strings turned around when it reverses strings (`[-1..-20] -join`,
// `[array]::Reverse`, `[::-1]`, `| rev`, `rev <<<`, `strrev`); only strings of ASCII at least six long.
[[nodiscard]] std::string reversed(std::string_view text);
// The text with PowerShell's string operations on quoted strings worked out: `.Replace('a','b')`
// and `-replace 'a','b'` chains, and `'{1}{0}' -f 'ex','i'` formats.
[[nodiscard]] std::string stringOperations(std::string_view text);

}  // namespace tessaril::payload_decoding
