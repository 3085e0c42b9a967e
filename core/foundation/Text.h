// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

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

[[nodiscard]] bool isValidUtf8(std::string_view text);
// Where the run of ASCII bytes from `from` ends (text.size() when it reaches the end); eight bytes
// at a time, for the hot paths that take ASCII apart from the rest.
[[nodiscard]] std::size_t asciiRunEnd(std::string_view text, std::size_t from = 0);

// User-perceived characters (extended grapheme clusters).
[[nodiscard]] std::size_t graphemeCount(std::string_view text);
// The longest prefix of `text` holding at most `maxClusters` grapheme clusters.
[[nodiscard]] std::string_view graphemePrefix(std::string_view text, std::size_t maxClusters);

}  // namespace tessaril::text
