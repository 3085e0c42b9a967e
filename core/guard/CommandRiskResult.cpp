// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandRiskResult.h"

#include "core/foundation/JsonFields.h"

#include <algorithm>
#include <utility>

namespace tessaril {

bool precedesInVerdict(const CommandRiskFinding& lhs, const CommandRiskFinding& rhs) {
    if (lhs.severity != rhs.severity) return lhs.severity > rhs.severity;
    return lhs.id < rhs.id;
}

std::optional<CommandRiskFinding> CommandRiskResult::primaryFinding() const {
    if (findings.empty()) return std::nullopt;
    return *std::min_element(findings.begin(), findings.end(), precedesInVerdict);
}

nlohmann::ordered_json CommandRiskResult::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["command"] = command;
    json["severity"] = rawValue(severity);
    json["findings"] = nlohmann::ordered_json::array();
    for (const auto& finding : findings)
        json["findings"].push_back(finding.toJson());
    json["rulesVersion"] = rulesVersion;
    return json;
}

std::optional<CommandRiskResult> CommandRiskResult::fromJson(const nlohmann::json& json) {
    auto command = json_fields::requiredString(json, "command");
    auto severityName = json_fields::requiredString(json, "severity");
    const nlohmann::json* list = json_fields::field(json, "findings");
    auto rulesVersion = json_fields::requiredString(json, "rulesVersion");
    if (!command || !severityName || list == nullptr || !list->is_array() || !rulesVersion) return std::nullopt;
    auto severity = commandRiskSeverityFromRawValue(*severityName);
    if (!severity) return std::nullopt;
    CommandRiskResult result;
    result.command = std::move(*command);
    result.severity = *severity;
    result.rulesVersion = std::move(*rulesVersion);
    for (const auto& entry : *list) {
        auto finding = CommandRiskFinding::fromJson(entry);
        if (!finding) return std::nullopt;
        result.findings.push_back(std::move(*finding));
    }
    return result;
}

}  // namespace tessaril
