// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/RuleBundle.h"

#include "core/foundation/JsonFields.h"
#include "core/guard/SiteList.h"

#include <algorithm>
#include <utility>

namespace tessaril {

nlohmann::ordered_json RuleBundle::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["currentVersion"] = currentVersion;
    json["rules"] = nlohmann::ordered_json::array();
    for (const auto& rule : rules)
        json["rules"].push_back(rule.toJson());
    if (!siteLists.empty()) json["siteLists"] = siteLists;
    return json;
}

namespace {

// The lists of "siteLists", every entry well-formed; nothing when any is not.
std::optional<std::map<std::string, std::vector<std::string>>> siteListsIn(const nlohmann::json& json) {
    std::map<std::string, std::vector<std::string>> lists;
    const nlohmann::json* object = json_fields::field(json, "siteLists");
    if (object == nullptr) return lists;
    if (!object->is_object()) return std::nullopt;
    for (const auto& [name, entries] : object->items()) {
        if (name.empty() || !entries.is_array()) return std::nullopt;
        std::vector<std::string> list;
        list.reserve(entries.size());
        for (const auto& entry : entries) {
            if (!entry.is_string() || !SiteList::parseEntry(entry.get_ref<const std::string&>())) return std::nullopt;
            list.push_back(entry.get<std::string>());
        }
        lists.emplace(name, std::move(list));
    }
    return lists;
}

}  // namespace

std::optional<RuleBundle> RuleBundle::fromJson(const nlohmann::json& json, Problem* problem) {
    if (problem != nullptr) *problem = Problem::undecodable;
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
    auto lists = siteListsIn(json);
    const bool listed = lists && std::all_of(bundle.rules.begin(), bundle.rules.end(), [&](const RuleDefinition& rule) {
                            return !rule.exceptSites || lists->contains(rule.exceptSites->list);
                        });
    if (!listed) {
        if (problem != nullptr) *problem = Problem::malformedSiteList;
        return std::nullopt;
    }
    bundle.siteLists = std::move(*lists);
    return bundle;
}

std::optional<RuleBundle> RuleBundle::decode(std::string_view data, Problem* problem) {
    if (problem != nullptr) *problem = Problem::undecodable;
    // Without exceptions a parse failure, including invalid UTF-8 in a string, is a discarded value.
    const auto json = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (json.is_discarded()) return std::nullopt;
    return fromJson(json, problem);
}

}  // namespace tessaril
