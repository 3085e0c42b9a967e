// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tessaril {

// How bad a risky command is. Declaration order is the severity order (info < warning < danger), so
// the built-in comparisons of the enumeration rank them.
enum class CommandRiskSeverity { info, warning, danger };

inline constexpr std::array<CommandRiskSeverity, 3> kAllCommandRiskSeverities = {
    CommandRiskSeverity::info, CommandRiskSeverity::warning, CommandRiskSeverity::danger};

// "info", "warning" or "danger": the JSON form and the stored form of the threshold.
[[nodiscard]] std::string_view rawValue(CommandRiskSeverity severity);
// Only the three raw values decode; any other word (or case) is no severity.
[[nodiscard]] std::optional<CommandRiskSeverity> commandRiskSeverityFromRawValue(std::string_view raw);

}  // namespace tessaril
