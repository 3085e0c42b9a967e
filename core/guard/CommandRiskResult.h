// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/guard/CommandRiskFinding.h"
#include "core/guard/CommandRiskSeverity.h"

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// Command Guard's verdict on one copied text.
struct CommandRiskResult {
    // The examined text: continuations joined, white space trimmed.
    std::string command;
    // The highest severity among the findings.
    CommandRiskSeverity severity = CommandRiskSeverity::warning;
    // Highest severity first, then by id ascending.
    std::vector<CommandRiskFinding> findings;
    std::string rulesVersion;

    bool operator==(const CommandRiskResult&) const = default;

    // The first finding in verdict order (severity descending, then id), none for an empty list.
    // Computed rather than taking findings.front(), so a decoded list in any order still answers right.
    [[nodiscard]] std::optional<CommandRiskFinding> primaryFinding() const;

    // The keys "command", "severity", "findings", "rulesVersion", in that order.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // All four keys are required with their types, and every finding must decode.
    [[nodiscard]] static std::optional<CommandRiskResult> fromJson(const nlohmann::json& json);
};

// Verdict order: the finding that should be shown first compares less.
[[nodiscard]] bool precedesInVerdict(const CommandRiskFinding& lhs, const CommandRiskFinding& rhs);

}  // namespace tessaril
