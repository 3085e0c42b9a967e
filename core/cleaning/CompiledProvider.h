// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/Provider.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/WrapperEncoding.h"
#include "core/foundation/Regex.h"

#include <string>
#include <vector>

namespace tessaril {

// A compiled expression and the pattern text as the rule file wrote it (without added anchors).
struct CompiledPattern {
    Regex regex;
    std::string pattern;
};

// An entry of "encodedRedirections": its capture is decoded as `encoding` says.
struct CompiledEncodedRedirection : CompiledPattern {
    WrapperEncoding encoding{};
};

// A provider with every pattern compiled once, case-insensitively. Patterns that did not compile
// are absent; the others keep their file order. The URL pattern's text is urlRegex.pattern().
struct CompiledProvider {
    std::string name;
    // The rule list the provider is listed under (Provider::listedSource).
    std::string listedSource;
    Regex urlRegex;
    std::vector<Regex> exceptionRegexes;
    // "rules" entries, matched against whole parameter names ("^" + pattern + "$").
    std::vector<CompiledPattern> paramRegexes;
    std::vector<CompiledPattern> rawRuleRegexes;
    std::vector<CompiledPattern> redirectionRegexes;
    // Tried after redirectionRegexes; the first capture of either kind that gives a link wins.
    std::vector<CompiledEncodedRedirection> encodedRedirectionRegexes;
    // "referralMarketing" entries, anchored like "rules".
    std::vector<CompiledPattern> referralParamRegexes;
    RuleCategoryType category;
    // "keptParameters" entries, anchored like "rules": names no provider removes on this one's links.
    std::vector<CompiledPattern> keptParamRegexes;
};

}  // namespace tessaril
