// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bench/EngineCalls.h"
#include "bench/Re2LinkRules.h"
#include "core/cleaning/FragmentIndex.h"
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/InMemoryUserDefaults.h"

// What the regular expression engine benchmarks and their check share: the corpus links, the shipped
// rule files, and the two sides built from them once.
namespace tessaril::bench {

// The RE2 designs measured: a FilteredRE2 with a few minimum atom lengths, and sets.
struct Variant {
    const char* name;
    Re2LinkRules::Design design;
    int minAtomLen;
};
inline constexpr Variant kVariants[] = {{"re2.filtered.atoms3", Re2LinkRules::Design::filtered, 3},
                                        {"re2.filtered.atoms4", Re2LinkRules::Design::filtered, 4},
                                        {"re2.filtered.atoms5", Re2LinkRules::Design::filtered, 5},
                                        {"re2.filtered.atoms6", Re2LinkRules::Design::filtered, 6},
                                        {"re2.sets", Re2LinkRules::Design::sets, 0}};

// The corpus lines the cleaner works on: trimmed, http(s) and parsed as a URL.
const std::vector<std::string>& links();

struct RuleFiles {
    std::string main;
    std::string supplementary;
};
// Null when the shipped files are not found.
const RuleFiles* ruleFiles();
// The providers of both files in the engine's order.
std::vector<std::pair<std::string, Provider>> decodedProviders(const RuleFiles& files);

struct LoadedEngine {
    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults};
};
// The engine with the shipped rules, the RE2 side of a variant, the engine's expression runs over
// the corpus; each built on first use, null without the rules or the corpus.
const RulesEngine* engine();
const Re2LinkRules* re2Rules(const Variant& variant);
const EngineCalls* engineCalls();
// Both sides must number the providers alike for their answers to be compared.
bool sameProviders(const RulesEngine& engine, const Re2LinkRules& rules);

// The part of the engine's load that RE2 would replace: every link pattern compiled, read into its
// automaton (which the first search does), and its fragments indexed.
struct EngineLinkPatterns {
    std::vector<Regex> regexes;
    FragmentIndex index;

    explicit EngineLinkPatterns(const RuleFiles& files);
};

}  // namespace tessaril::bench
