// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/RuleDefinition.h"

#include "core/foundation/JsonFields.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace tessaril {

namespace {

bool isGroupName(std::string_view name) {
    const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    return !name.empty() && letter(name[0]) &&
           std::all_of(name.begin(), name.end(), [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

std::optional<RuleDefinition::SiteException> siteException(const nlohmann::json& json) {
    auto list = json_fields::requiredString(json, "list");
    if (!list || list->empty()) return std::nullopt;
    RuleDefinition::SiteException exception{std::move(*list), {}};
    if (json_fields::field(json, "group") != nullptr) {
        auto group = json_fields::requiredString(json, "group");
        if (!group || !isGroupName(*group)) return std::nullopt;
        exception.group = std::move(*group);
    }
    return exception;
}

}  // namespace

nlohmann::ordered_json RuleDefinition::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["id"] = id;
    json["platform"] = platform;
    json["severity"] = rawValue(severity);
    json["pattern"] = pattern;
    json["summary"] = summary;
    json["explanation"] = explanation;
    if (exceptSites) {
        json["exceptSites"] = nlohmann::ordered_json::object();
        json["exceptSites"]["list"] = exceptSites->list;
        if (!exceptSites->group.empty()) json["exceptSites"]["group"] = exceptSites->group;
    }
    if (!supersededBy.empty()) json["supersededBy"] = supersededBy;
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
    RuleDefinition rule{std::move(*id),      std::move(*platform), *severity,
                        std::move(*pattern), std::move(*summary),  std::move(*explanation)};
    if (const nlohmann::json* except = json_fields::field(json, "exceptSites")) {
        auto exception = siteException(*except);
        if (!exception) return std::nullopt;
        rule.exceptSites = std::move(*exception);
    }
    if (const nlohmann::json* superseding = json_fields::field(json, "supersededBy")) {
        if (!superseding->is_array()) return std::nullopt;
        for (const auto& id : *superseding) {
            if (!id.is_string()) return std::nullopt;
            rule.supersededBy.push_back(id.get<std::string>());
        }
    }
    return rule;
}

}  // namespace tessaril
