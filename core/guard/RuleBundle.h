// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/guard/RuleDefinition.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// The document of "command-guard-rules.json": a version and the rules in file order.
struct RuleBundle {
    std::string currentVersion;
    std::vector<RuleDefinition> rules;

    bool operator==(const RuleBundle&) const = default;

    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // "currentVersion" (string) and "rules" (array) are required and every rule must decode: one bad
    // rule makes the whole file unusable, so a half-understood file never runs. Other keys are ignored.
    [[nodiscard]] static std::optional<RuleBundle> fromJson(const nlohmann::json& json);
    // Parses UTF-8 JSON text; malformed text is no bundle.
    [[nodiscard]] static std::optional<RuleBundle> decode(std::string_view data);
};

}  // namespace tessaril
