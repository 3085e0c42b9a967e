// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/guard/CommandRiskSeverity.h"

#include <optional>
#include <string>

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

    bool operator==(const RuleDefinition&) const = default;

    // The keys "id", "platform", "severity", "pattern", "summary", "explanation", in that order.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // Every key is required as a string and the severity must be one of the three raw values.
    [[nodiscard]] static std::optional<RuleDefinition> fromJson(const nlohmann::json& json);
};

}  // namespace tessaril
