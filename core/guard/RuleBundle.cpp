// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/RuleBundle.h"

#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

nlohmann::ordered_json RuleBundle::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["currentVersion"] = currentVersion;
    json["rules"] = nlohmann::ordered_json::array();
    for (const auto& rule : rules)
        json["rules"].push_back(rule.toJson());
    return json;
}

std::optional<RuleBundle> RuleBundle::fromJson(const nlohmann::json& json) {
    auto version = json_fields::requiredString(json, "currentVersion");
    const nlohmann::json* list = json_fields::field(json, "rules");
    if (!version || list == nullptr || !list->is_array()) return std::nullopt;
    RuleBundle bundle;
    bundle.currentVersion = std::move(*version);
    bundle.rules.reserve(list->size());
    for (const auto& entry : *list) {
        auto rule = RuleDefinition::fromJson(entry);
        if (!rule) return std::nullopt;
        bundle.rules.push_back(std::move(*rule));
    }
    return bundle;
}

std::optional<RuleBundle> RuleBundle::decode(std::string_view data) {
    // Without exceptions a parse failure, including invalid UTF-8 in a string, is a discarded value.
    const auto json = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (json.is_discarded()) return std::nullopt;
    return fromJson(json);
}

}  // namespace tessaril
