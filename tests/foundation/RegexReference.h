// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// ICU's own answers, for the regex fast paths to be compared with, and random expressions to ask.

#include "core/foundation/Regex.h"

#include <iterator>
#include <random>
#include <string>

namespace tessaril::testing {

// ICU alone, as Regex answered before its fast paths existed. The limit only matters for a few random
// expressions that send ICU into an endless loop.
inline Regex icuOnly(const std::string& pattern, bool caseInsensitive = false) {
    auto regex = Regex::compile(pattern, caseInsensitive).value_or(*Regex::compile("(?!)"));
    regex.setFastPathEnabled(false);
    regex.setWorkLimit(1000);
    return regex;
}

// Random expressions over a small alphabet, so that anchors, empty branches, nested and counted
// repetition meet in combinations no table lists; a group captures or not at random.
inline std::string randomPattern(std::mt19937& random, int depth) {
    static const char* const atoms[] = {"a", "b", "A", "-", ".", "[ab]", "[^a]", "[A-a]", "\\w", "\\W", "^", "$"};
    static const char* const quantifiers[] = {"", "", "", "*", "+", "?", "*?", "{2}", "{0,2}", "{1,}", "{2,3}?"};
    std::string pattern;
    for (auto length = random() % 4; length > 0; --length) {
        std::string atom;
        if (depth < 2 && random() % 4 == 0) {
            atom = random() % 2 == 0 ? "(" : "(?:";
            atom += randomPattern(random, depth + 1) + ")";
        } else {
            atom = atoms[random() % std::size(atoms)];
        }
        if (atom != "^" && atom != "$") atom += quantifiers[random() % std::size(quantifiers)];
        pattern += atom;
    }
    return random() % 4 == 0 ? pattern + "|" + randomPattern(random, depth + 1) : pattern;
}

// A text of up to six characters over the patterns' alphabet, both cases.
inline std::string randomText(std::mt19937& random) {
    std::string text;
    for (auto length = random() % 7; length > 0; --length)
        text += "aAbB-"[random() % 5];
    return text;
}

}  // namespace tessaril::testing
