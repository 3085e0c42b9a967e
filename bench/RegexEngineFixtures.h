// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <span>
#include <string>
#include <vector>

#include "bench/Re2LinkRules.h"
#include "bench/ShippedRules.h"

// What the regular expression engine benchmarks and their check share: the corpus links, the shipped
// rules, and the two sides built from them once.
namespace tessaril::bench {

// The RE2 designs measured (see Re2LinkRules.h).
struct Variant {
    const char* name;
    Re2LinkRules::Design design;
};
inline constexpr Variant kVariants[] = {{"re2.filtered", Re2LinkRules::Design::filtered},
                                        {"re2.fragments", Re2LinkRules::Design::fragments}};

// Reads only the first `lines` lines of the corpus from then on (0: all of them); call it before links().
void limitCorpusLines(std::size_t lines);
// The corpus lines the cleaner works on: trimmed, http(s) and parsed as a URL.
const std::vector<std::string>& links();

// Null when the shipped files are not found.
const ShippedRuleFiles* ruleFiles();
// The engine with the shipped rules, and the RE2 side of a variant made from its providers; each
// built on first use, null without the rules.
const RulesEngine* engine();
const Re2LinkRules* re2Rules(const Variant& variant);

// The part of the engine's load that RE2 would replace: every distinct link pattern of the providers
// compiled, read into its automaton (which the first search does), and its fragments indexed.
struct EngineLinkPatterns {
    std::vector<Regex> regexes;
    FragmentIndex index;

    explicit EngineLinkPatterns(std::span<const CompiledProvider> providers);
};

}  // namespace tessaril::bench
