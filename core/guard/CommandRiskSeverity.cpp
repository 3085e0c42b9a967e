// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandRiskSeverity.h"

namespace tessaril {

std::string_view rawValue(CommandRiskSeverity severity) {
    switch (severity) {
        case CommandRiskSeverity::info:
            return "info";
        case CommandRiskSeverity::warning:
            return "warning";
        case CommandRiskSeverity::danger:
            return "danger";
    }
    return "danger";
}

std::optional<CommandRiskSeverity> commandRiskSeverityFromRawValue(std::string_view raw) {
    for (auto severity : kAllCommandRiskSeverities) {
        if (rawValue(severity) == raw) return severity;
    }
    return std::nullopt;
}

}  // namespace tessaril
