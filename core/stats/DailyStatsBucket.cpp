// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stats/DailyStatsBucket.h"

#include "core/foundation/JsonFields.h"

#include <string_view>
#include <utility>

namespace tessaril {

namespace {

using json_fields::field;

// A field that may be left out: nullptr when it is missing or null.
const nlohmann::json* optionalField(const nlohmann::json& object, std::string_view key) {
    const nlohmann::json* value = field(object, key);
    return value == nullptr || value->is_null() ? nullptr : value;
}

bool readCount(const nlohmann::json& object, std::string_view key, std::int64_t& count) {
    const nlohmann::json* value = optionalField(object, key);
    if (value == nullptr) return true;
    const auto number = json_fields::int64Value(*value);
    if (!number) return false;
    count = *number;
    return true;
}

bool readCounts(const nlohmann::json& object, std::string_view key, DailyStatsBucket::Counts& counts) {
    const nlohmann::json* value = optionalField(object, key);
    if (value == nullptr) return true;
    if (!value->is_object()) return false;
    for (const auto& [label, entry] : value->items()) {
        const auto number = json_fields::int64Value(entry);
        if (!number) return false;
        counts[label] = *number;
    }
    return true;
}

}  // namespace

nlohmann::ordered_json DailyStatsBucket::toJson() const {
    nlohmann::ordered_json json;
    json["dateKey"] = dateKey;
    json["totalCleaned"] = totalCleaned;
    json["totalCommandWarnings"] = totalCommandWarnings;
    json["neutralizedCommands"] = neutralizedCommands;
    json["categoryStats"] = categoryStats;
    json["commandSeverityStats"] = commandSeverityStats;
    json["impactStats"] = impactStats;
    json["confidenceStats"] = confidenceStats;
    return json;
}

std::optional<DailyStatsBucket> DailyStatsBucket::fromJson(const nlohmann::json& json) {
    auto dateKey = json_fields::requiredString(json, "dateKey");
    if (!dateKey) return std::nullopt;
    DailyStatsBucket bucket;
    bucket.dateKey = std::move(*dateKey);
    if (readCount(json, "totalCleaned", bucket.totalCleaned) &&
        readCount(json, "totalCommandWarnings", bucket.totalCommandWarnings) &&
        readCount(json, "neutralizedCommands", bucket.neutralizedCommands) &&
        readCounts(json, "categoryStats", bucket.categoryStats) &&
        readCounts(json, "commandSeverityStats", bucket.commandSeverityStats) &&
        readCounts(json, "impactStats", bucket.impactStats) &&
        readCounts(json, "confidenceStats", bucket.confidenceStats)) {
        return bucket;
    }
    return std::nullopt;
}

}  // namespace tessaril
