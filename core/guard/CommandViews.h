// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// A text a shell or PowerShell would actually run for a copied command, derived so that the rules
// also see names that quoting, escapes, variables or an encoded payload hide from them.
struct CommandView {
    std::string text;
    // How the text was derived from the command, e.g. "decoded from base64"; shown with a finding.
    std::string origin;

    bool operator==(const CommandView&) const = default;
};

namespace command_views {

// The most views one command yields: the unquoted and folded views of the command and of each of at
// most two nested base64 payloads, each payload also as decoded.
inline constexpr std::size_t maximumViews = 8;
// Shorter runs of base64 characters are words and paths far more often than payloads.
inline constexpr std::size_t minimumBase64Run = 16;
inline constexpr int maximumDecodingDepth = 2;

// The views of `command` that differ from it and from each other, at most maximumViews of them, each
// at most `maximumBytes` long and cut on a UTF-8 character boundary. The work is linear in the size
// of the command. A command without quoting, escapes, variables or payloads has none.
[[nodiscard]] std::vector<CommandView> derive(std::string_view command, std::size_t maximumBytes);

// Quotes that only glue the pieces of one word (`c"u"rl`, `'bash'`) removed, with backslashes,
// carets and backquotes before a letter (`c\url`, `p^ow^ershell`, ``i`e`x``). A quoted string that
// holds blanks or shell metacharacters stays as it is, its insides still unescaped.
[[nodiscard]] std::string unquotedWords(std::string_view text);
// Simple assignments (`a=cu`, `$a='i'`) substituted where the variables are used (`$a`, `${a}`),
// concatenations of quoted strings (`'i'+'ex'`) joined, and the result's words unquoted. Stops
// substituting once the result reaches `maximumBytes`.
[[nodiscard]] std::string foldedAssignments(std::string_view text, std::size_t maximumBytes);
// The printable payloads of the text's base64 runs (UTF-8, or UTF-16LE as PowerShell's encoded
// commands are), one per line; empty when there is none.
[[nodiscard]] std::string decodedBase64(std::string_view text);

}  // namespace command_views
}  // namespace tessaril
