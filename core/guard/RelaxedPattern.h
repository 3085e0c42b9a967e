// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaril::relaxed_pattern {

// A looser form of a rule pattern, written in the part of the syntax the lazy DFA runs
// (RegexNfa): it matches somewhere in relaxedText(text) whenever the pattern matches somewhere in
// a printable ASCII text, so a DFA pass that finds nothing proves the rule cannot match and spares
// ICU's backtracking search. Look-arounds, word boundaries and anchors are dropped, counted
// repetitions become open ones, possessive and atomic forms ordinary ones, and a back-reference or
// a construct not modelled here any run of printable text. Nothing when the pattern holds flags
// other than a leading "(?i)", a character outside printable ASCII, or a set that holds none.
[[nodiscard]] std::optional<std::string> fromPattern(std::string_view pattern);

// The text the looser form is searched in: tab, line feed, form feed and carriage return read as a
// space, which every set of a looser form holds when the set of the pattern holds one of them. Nothing
// when the text holds another byte outside printable ASCII, which the DFA cannot answer for.
[[nodiscard]] std::optional<std::string> relaxedText(std::string_view text);

}  // namespace tessaril::relaxed_pattern
