// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/RuleDefinition.h"

#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

nlohmann::ordered_json RuleDefinition::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["id"] = id;
    json["platform"] = platform;
    json["severity"] = rawValue(severity);
    json["pattern"] = pattern;
    json["summary"] = summary;
    json["explanation"] = explanation;
    return json;
}

std::optional<RuleDefinition> RuleDefinition::fromJson(const nlohmann::json& json) {
    auto id = json_fields::requiredString(json, "id");
    auto platform = json_fields::requiredString(json, "platform");
    auto severityName = json_fields::requiredString(json, "severity");
    auto pattern = json_fields::requiredString(json, "pattern");
    auto summary = json_fields::requiredString(json, "summary");
    auto explanation = json_fields::requiredString(json, "explanation");
    if (!id || !platform || !severityName || !pattern || !summary || !explanation) return std::nullopt;
    auto severity = commandRiskSeverityFromRawValue(*severityName);
    if (!severity) return std::nullopt;
    return RuleDefinition{std::move(*id),      std::move(*platform), *severity,
                          std::move(*pattern), std::move(*summary),  std::move(*explanation)};
}

}  // namespace tessaril
