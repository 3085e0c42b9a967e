// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stats/StatsSnapshot.h"

#include <string>

#include <nlohmann/json.hpp>

namespace tessaril {

namespace {

template <typename Key>
nlohmann::ordered_json countsByRawValue(const std::map<Key, std::int64_t>& counts) {
    auto object = nlohmann::ordered_json::object();
    for (const auto& [key, count] : counts)
        object[std::string(rawValue(key))] = count;
    return object;
}

template <typename Key>
std::int64_t countOf(const std::map<Key, std::int64_t>& counts, Key key) {
    const auto found = counts.find(key);
    return found == counts.end() ? 0 : found->second;
}

}  // namespace

StatsSnapshot StatsSnapshot::zero() {
    StatsSnapshot snapshot;
    for (auto type : kAllRuleCategoryTypes)
        snapshot.categoryStats[type] = 0;
    for (auto severity : kAllCommandRiskSeverities)
        snapshot.commandSeverityStats[severity] = 0;
    for (auto level : impactOrder)
        snapshot.impactStats[level] = 0;
    for (auto confidence : confidenceOrder)
        snapshot.confidenceStats[confidence] = 0;
    return snapshot;
}

std::vector<StatsRow> StatsSnapshot::rows() const {
    std::vector<StatsRow> rows = {{"Overview", "Total URLs Cleaned", totalCleaned},
                                  {"Command Guard", "Warnings", totalCommandWarnings},
                                  {"Command Guard", "Neutralized", neutralizedCommands}};
    for (auto severity : kAllCommandRiskSeverities)
        rows.push_back({"Command Guard", rawValue(severity), countOf(commandSeverityStats, severity)});
    for (auto type : kAllRuleCategoryTypes)
        rows.push_back({"Category", rawValue(type), countOf(categoryStats, type)});
    for (auto level : impactOrder)
        rows.push_back({"Impact", rawValue(level), countOf(impactStats, level)});
    for (auto confidence : confidenceOrder)
        rows.push_back({"Confidence", rawValue(confidence), countOf(confidenceStats, confidence)});
    return rows;
}

nlohmann::ordered_json StatsSnapshot::toJson() const {
    nlohmann::ordered_json json;
    json["totalCleaned"] = totalCleaned;
    json["totalCommandWarnings"] = totalCommandWarnings;
    json["neutralizedCommands"] = neutralizedCommands;
    json["categoryStats"] = countsByRawValue(categoryStats);
    json["commandSeverityStats"] = countsByRawValue(commandSeverityStats);
    json["impactStats"] = countsByRawValue(impactStats);
    json["confidenceStats"] = countsByRawValue(confidenceStats);
    return json;
}

}  // namespace tessaril
