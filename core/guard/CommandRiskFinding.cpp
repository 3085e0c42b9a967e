// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandRiskFinding.h"

#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

nlohmann::ordered_json CommandRiskFinding::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["id"] = id;
    json["platform"] = platform;
    json["severity"] = rawValue(severity);
    json["summary"] = summary;
    json["explanation"] = explanation;
    json["matchedText"] = matchedText;
    if (!view.empty()) json["view"] = view;
    return json;
}

std::optional<CommandRiskFinding> CommandRiskFinding::fromJson(const nlohmann::json& json) {
    auto id = json_fields::requiredString(json, "id");
    auto platform = json_fields::requiredString(json, "platform");
    auto severityName = json_fields::requiredString(json, "severity");
    auto summary = json_fields::requiredString(json, "summary");
    auto explanation = json_fields::requiredString(json, "explanation");
    auto matchedText = json_fields::requiredString(json, "matchedText");
    const nlohmann::json* view = json_fields::field(json, "view");
    if (!id || !platform || !severityName || !summary || !explanation || !matchedText) return std::nullopt;
    if (view != nullptr && !view->is_string()) return std::nullopt;
    auto severity = commandRiskSeverityFromRawValue(*severityName);
    if (!severity) return std::nullopt;
    return CommandRiskFinding{std::move(*id),
                              std::move(*platform),
                              *severity,
                              std::move(*summary),
                              std::move(*explanation),
                              std::move(*matchedText),
                              view != nullptr ? view->get<std::string>() : std::string()};
}

}  // namespace tessaril
