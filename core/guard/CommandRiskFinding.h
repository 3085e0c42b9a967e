// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/guard/CommandRiskSeverity.h"

#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// One rule that matched a copied command. Lists in the interface identify it by `id`.
struct CommandRiskFinding {
    std::string id;
    std::string platform;
    CommandRiskSeverity severity = CommandRiskSeverity::warning;
    std::string summary;
    std::string explanation;
    // The matched fragment, trimmed and cut to at most 160 user-perceived characters.
    std::string matchedText;
    // The origin of the view of the command the rule matched in (CommandView::origin, e.g.
    // "base64/unquoted"); empty when it matched the command as examined.
    std::string view;

    bool operator==(const CommandRiskFinding&) const = default;

    // The keys "id", "platform", "severity", "summary", "explanation", "matchedText", in that order,
    // then "view" when the finding comes from a view.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // All six keys are required strings, "view" an optional one; unknown keys are ignored.
    [[nodiscard]] static std::optional<CommandRiskFinding> fromJson(const nlohmann::json& json);
};

}  // namespace tessaril
