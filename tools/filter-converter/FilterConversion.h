// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/filter-converter/FilterRule.h"

namespace tessaril::filters {

// What a conversion took and left out, for the converter's output and the test that holds it.
struct ConversionReport {
    std::size_t rulesTaken = 0;
    std::size_t providers = 0;
    std::map<SkipReason, std::size_t> skipped;
    std::size_t exceptionsApplied = 0;
    // Exceptions for parameters no converted rule removes on that site (another list's rules, say).
    std::size_t exceptionsUnmatched = 0;
    std::map<SkipReason, std::size_t> exceptionsSkipped;

    // A few lines a person reads: what was taken, and what was left out and why.
    [[nodiscard]] std::string summary() const;
};

struct FilterListFile {
    // Where the rules came from, for the providers' names: "general_url".
    std::string name;
    std::string text;
};

struct Conversion {
    nlohmann::ordered_json document;
    ConversionReport report;
};

// The supplementary provider file: `ownProviders` (our hand-written providers file, each provider
// marked as ours) first, then the parameter rules of `lists` as providers named after and marked
// with `source`, with the exceptions written in the lists and in `exceptions` (the list's
// allowlist, and ours) applied to them. Nothing when `ownProviders` is not a provider file.
[[nodiscard]] std::optional<Conversion> convertFilterLists(std::string_view ownProviders,
                                                           const std::vector<FilterListFile>& lists,
                                                           std::string_view exceptions, std::string_view source);

}  // namespace tessaril::filters
