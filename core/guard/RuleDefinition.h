// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/guard/CommandRiskSeverity.h"

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// One Command Guard rule as written in "command-guard-rules.json".
struct RuleDefinition {
    std::string id;
    // Free label of the shell or system family; shown with findings, never used to filter.
    std::string platform;
    CommandRiskSeverity severity = CommandRiskSeverity::warning;
    // ICU syntax, compiled with no options (inline flags may change that).
    std::string pattern;
    std::string summary;
    std::string explanation;
    // "exceptSites": a match stands only when the text of `group` (a named group of the pattern, or
    // the whole match when empty) names a site that is not on the file's site list `list`.
    struct SiteException {
        std::string list;
        std::string group;
        bool operator==(const SiteException&) const = default;
    };
    std::optional<SiteException> exceptSites{};
    // "supersededBy": identifiers of rules that tell of the same problem more precisely; when one of
    // them reports a finding, this rule's finding is left out, so that one problem gives one finding.
    std::vector<std::string> supersededBy{};

    bool operator==(const RuleDefinition&) const = default;

    // The keys "id", "platform", "severity", "pattern", "summary", "explanation", in that order, then
    // "exceptSites" and "supersededBy" when there are.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // Every key is required as a string and the severity must be one of the three raw values;
    // "exceptSites" is optional, an object with a non-empty string "list" and, optionally, a "group"
    // that is a group name (a letter, then letters and digits); "supersededBy" is optional, an array
    // of strings.
    [[nodiscard]] static std::optional<RuleDefinition> fromJson(const nlohmann::json& json);
};

}  // namespace tessaril
