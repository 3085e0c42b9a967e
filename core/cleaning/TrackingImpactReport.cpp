// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/TrackingImpactReport.h"

#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

nlohmann::ordered_json TrackingImpactReport::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["totalSignals"] = totalSignals;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (auto category : categories)
        list.push_back(rawValue(category));
    json["categories"] = std::move(list);
    json["impactLevel"] = rawValue(impactLevel);
    json["confidence"] = rawValue(confidence);
    json["summary"] = summary;
    json["explanation"] = explanation;
    return json;
}

std::optional<TrackingImpactReport> TrackingImpactReport::fromJson(const nlohmann::json& json) {
    auto totalSignals = json_fields::requiredInt64(json, "totalSignals");
    auto level = json_fields::requiredString(json, "impactLevel");
    auto confidence = json_fields::requiredString(json, "confidence");
    auto summary = json_fields::requiredString(json, "summary");
    auto explanation = json_fields::requiredString(json, "explanation");
    const nlohmann::json* list = json_fields::field(json, "categories");
    if (!totalSignals || !level || !confidence || !summary || !explanation || list == nullptr || !list->is_array()) {
        return std::nullopt;
    }
    TrackingImpactReport report;
    report.totalSignals = *totalSignals;
    for (const auto& item : *list) {
        if (!item.is_string()) return std::nullopt;
        auto category = trackingCommercialCategoryFromRawValue(item.get_ref<const std::string&>());
        if (!category) return std::nullopt;
        report.categories.push_back(*category);
    }
    auto decodedLevel = trackingImpactLevelFromRawValue(*level);
    auto decodedConfidence = trackingImpactConfidenceFromRawValue(*confidence);
    if (!decodedLevel || !decodedConfidence) return std::nullopt;
    report.impactLevel = *decodedLevel;
    report.confidence = *decodedConfidence;
    report.summary = std::move(*summary);
    report.explanation = std::move(*explanation);
    return report;
}

}  // namespace tessaril
