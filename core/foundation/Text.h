// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Small Unicode-aware text helpers over UTF-8 strings.
namespace tessaril::text {

// Removes leading and trailing Unicode white space and line breaks (the Zs/Zl/Zp separators,
// U+0009...U+000D, U+0085). Invalid UTF-8 is left as it is.
[[nodiscard]] std::string_view trim(std::string_view text);

// Full Unicode lower-casing, independent of the user's locale. Malformed bytes are copied unchanged.
[[nodiscard]] std::string toLower(std::string_view text);
// ASCII-only lower-casing, for protocol tokens (schemes, ASCII host names).
[[nodiscard]] std::string asciiLower(std::string_view text);

// A host name with non-ASCII labels in its ASCII form ("B\u00FCcher.example" gives
// "xn--bcher-kva.example"): UTS #46 processing, which also maps it to lower case, with the rules
// of IDNA2008 and of host names (letters, digits and hyphens). Nothing when the name breaks them.
[[nodiscard]] std::optional<std::string> hostNameToASCII(std::string_view name);

// Decodes %XX escapes. Fails (no value) when an escape is malformed or the decoded bytes are not
// valid UTF-8; text without escapes decodes to itself.
[[nodiscard]] std::optional<std::string> percentDecode(std::string_view text);
// The same for text that is decoded often and rarely holds escapes: text without them is its own
// decoding and comes back as it is, without a copy; otherwise the decoding is put in `scratch` and
// viewed, and text whose escapes do not decode is taken as written.
[[nodiscard]] std::string_view percentDecodedView(std::string_view text, std::string& scratch);
// Escapes as %XX (upper-case hex) every byte except ASCII letters, digits, "-", ".", "_", "~" and the
// ASCII characters listed in `kept`. Non-ASCII text is escaped byte by byte as UTF-8, so the result
// is plain ASCII that any URL parser reads back the same.
[[nodiscard]] std::string percentEncode(std::string_view text, std::string_view kept);

// The pieces of `text` between the separators, empty ones left out ("/a//b/" gives "a" and "b").
[[nodiscard]] std::vector<std::string_view> nonEmptyPieces(std::string_view text, char separator);

[[nodiscard]] bool isValidUtf8(std::string_view text);
// Where the run of ASCII bytes from `from` ends (text.size() when it reaches the end); eight bytes
// at a time, for the hot paths that take ASCII apart from the rest.
[[nodiscard]] std::size_t asciiRunEnd(std::string_view text, std::size_t from = 0);

// The text as it may be shown to a person in a terminal: whatever could move the cursor, redraw or
// recolour the screen, or make text appear in another order than it is stored is written out as an
// escape instead, so a hostile text shows as what it is. Exactly:
// - C0 controls (U+0000-U+001F, tab and line feed included), DEL and C1 controls (U+007F-U+009F)
//   become \xNN;
// - bidirectional marks, embeddings, overrides and isolates (U+061C, U+200E, U+200F, U+202A-U+202E,
//   U+2066-U+2069) and the other characters that format without showing (zero width space U+200B,
//   line and paragraph separators U+2028 and U+2029, the word joiner, invisible operators and
//   deprecated format controls U+2060-U+206F, byte order mark U+FEFF, annotation marks
//   U+FFF9-U+FFFB) become \uNNNN;
// - each byte that is not part of well-formed UTF-8 becomes \xNN;
// - everything else is copied unchanged, backslashes and the joiners U+200C and U+200D included
//   (scripts and emoji need those).
// Hexadecimal digits are lower case. The result is valid UTF-8 and holds no line break. It is for
// reading only: a backslash is not escaped, so it cannot be decoded back, and text that a program
// reads (JSON, cleaned links) must never pass through it.
[[nodiscard]] std::string escapedForTerminal(std::string_view text);

// User-perceived characters (extended grapheme clusters).
[[nodiscard]] std::size_t graphemeCount(std::string_view text);
// The longest prefix of `text` holding at most `maxClusters` grapheme clusters.
[[nodiscard]] std::string_view graphemePrefix(std::string_view text, std::size_t maxClusters);

}  // namespace tessaril::text
