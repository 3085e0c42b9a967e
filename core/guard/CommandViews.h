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
    // How the text was derived from the command, as steps joined by "/": "unquoted", "folded",
    // "base64", "hex", "octal", "character-codes", "rot13", "reversed", "string-operations" (e.g.
    // "base64/unquoted"). Stable, for JSON and scripts;
    // command_views::description gives the words shown to a person.
    std::string origin;

    bool operator==(const CommandView&) const = default;
};

namespace command_views {

// The most views one command yields, and how deep payloads inside payloads are decoded.
inline constexpr std::size_t maximumViews = 8;
inline constexpr std::size_t maximumDecodingDepth = 2;

// The views of `command` that differ from it and from each other: its payloads decoded (base64, hex,
// octal, character codes, ROT13, reversed strings, PowerShell's string operations; payloads inside
// them once more), then the words of the command and of each
// payload unquoted and its assignments folded. The command's own words are read from `pasted`, the
// command before its line continuations were joined into blanks (the command itself when it had
// none). At most maximumViews, together at most `maximumBytes` long, each cut on a UTF-8 character
// boundary; the work is linear in the size of the texts. A command without quoting, escapes,
// variables, continuations inside words or payloads has none.
[[nodiscard]] std::vector<CommandView> derive(std::string_view command, std::string_view pasted,
                                              std::size_t maximumBytes);
// The origin of a view in words that follow "the command", e.g. "decoded from base64, then with
// quotes and escapes taken out of its words".
[[nodiscard]] std::string description(std::string_view origin);

// Quotes that only glue the pieces of one word (`c"u"rl`, `'bash'`) removed, with backslashes,
// carets and backquotes before a letter (`c\url`, `p^ow^ershell`, ``i`e`x``). A quoted string that
// holds blanks or shell metacharacters stays as it is, its insides still unescaped. A backslash and
// a line break inside a word, outside single quotes, vanish as a POSIX shell makes them vanish
// (`cu\<LF>rl`); other line continuations become a blank. In a text with Windows paths (`C:\`,
// `\\host`) a backslash is a separator, not an escape.
[[nodiscard]] std::string unquotedWords(std::string_view text);
// Simple assignments (`a=cu`, `$a='i'`, `$env:a='i'`, cmd's `set a=cu`) substituted where the variables are used
// (`$a`, `${a}`, `%a%`), the defaults of expansions of unset variables filled in (`${a:-cu}`),
// variables nothing sets that stand inside a word dropped (`s${x}h`, `c$@url`),
// concatenations of quoted strings (`'i'+'ex'`) joined, brace expansions standing as commands
// (`{curl,-s,x}`) spread into words, aliases (`alias g=curl`) substituted where
// they are used as commands, commands' system directories (`/usr/bin/`, `C:\Windows\System32\`)
// dropped, and the result's words unquoted. Stops
// substituting once the result reaches `maximumBytes`.
[[nodiscard]] std::string foldedAssignments(std::string_view text, std::size_t maximumBytes);

}  // namespace command_views
}  // namespace tessaril
