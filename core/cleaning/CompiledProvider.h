// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/Provider.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/foundation/Regex.h"
#include "core/foundation/RulePrefilter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessaril {

class RuleEntry;

// A compiled expression and the pattern text as the rule file wrote it (without added anchors).
struct CompiledPattern {
    Regex regex;
    std::string pattern;
    // Set for patterns searched within a whole link (path rules, redirections), which a link
    // rarely matches; parameter-name rules have their own index.
    RulePrefilter prefilter;
    // Its number in the engine's fragment index (link rules only).
    std::uint32_t filter = 0;
    // The rule entry whose switch a parameter rule answers to, found by identifier and kept for as
    // long as the category's index stamp is the one given (zero: not looked up yet).
    struct Switch {
        std::uint64_t stamp = 0;
        const RuleEntry* entry = nullptr;
    };
    mutable Switch ruleSwitch;
};

// A provider with every pattern compiled once, case-insensitively. Patterns that did not compile
// are absent; the others keep their file order.
struct CompiledProvider {
    std::string name;
    Provider provider;
    Regex urlRegex;
    std::vector<Regex> exceptionRegexes;
    // exceptionPrefilters[i] lets through every link exceptionRegexes[i] can match.
    std::vector<RulePrefilter> exceptionPrefilters;
    // Their numbers in the engine's fragment index.
    std::vector<std::uint32_t> exceptionFilters;
    // "rules" entries, matched against whole parameter names ("^" + pattern + "$").
    std::vector<CompiledPattern> paramRegexes;
    std::vector<CompiledPattern> rawRuleRegexes;
    std::vector<CompiledPattern> redirectionRegexes;
    // "referralMarketing" entries, anchored like "rules".
    std::vector<CompiledPattern> referralParamRegexes;
    RuleCategoryType category;
    // Its filter groups in the engine's fragment index: the exceptions, the redirections, the path
    // rules. While a group is not live for a link, none of its rules can match it.
    std::uint32_t exceptionGroup = 0;
    std::uint32_t redirectionGroup = 0;
    std::uint32_t rawRuleGroup = 0;
};

}  // namespace tessaril
