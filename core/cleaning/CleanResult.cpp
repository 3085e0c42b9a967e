// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/CleanResult.h"

#include "core/cleaning/TrackingImpactAnalyzer.h"
#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

namespace {

// A missing or null key leaves the value empty; anything else must be an array the reader accepts.
template <typename ReadItem>
bool optionalArray(const nlohmann::json& json, std::string_view key, ReadItem&& readItem) {
    const nlohmann::json* value = json_fields::field(json, key);
    if (value == nullptr || value->is_null()) return true;
    if (!value->is_array()) return false;
    for (const auto& item : *value) {
        if (!readItem(item)) return false;
    }
    return true;
}

bool stringList(const nlohmann::json& json, std::string_view key, std::vector<std::string>& into) {
    return optionalArray(json, key, [&into](const nlohmann::json& item) {
        if (!item.is_string()) return false;
        into.push_back(item.get<std::string>());
        return true;
    });
}

}  // namespace

CleanResult CleanResult::appendingOperation(CleanOperation operation, std::optional<std::string> newCleanedURL) const {
    CleanResult copy = *this;
    copy.operations.push_back(std::move(operation));
    if (newCleanedURL) copy.cleanedURL = std::move(*newCleanedURL);
    return copy;
}

TrackingImpactReport CleanResult::trackingImpactReport() const {
    return TrackingImpactAnalyzer::analyze(*this);
}

nlohmann::ordered_json CleanResult::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["originalURL"] = originalURL;
    json["cleanedURL"] = cleanedURL;
    json["paramsRemoved"] = paramsRemoved;
    json["removedQueryParameters"] = removedQueryParameters;
    json["matchedRuleIDs"] = matchedRuleIDs;
    nlohmann::ordered_json categories = nlohmann::ordered_json::array();
    for (RuleCategoryType type : matchedCategories)
        categories.push_back(rawValue(type));
    json["matchedCategories"] = std::move(categories);
    if (cleanedOriginalURL) json["cleanedOriginalURL"] = *cleanedOriginalURL;
    if (privacyRedirect) json["privacyRedirect"] = privacyRedirect->toJson();
    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    for (const auto& operation : operations)
        steps.push_back(operation.toJson());
    json["operations"] = std::move(steps);
    return json;
}

std::optional<CleanResult> CleanResult::fromJson(const nlohmann::json& json) {
    auto originalURL = json_fields::requiredString(json, "originalURL");
    auto cleanedURL = json_fields::requiredString(json, "cleanedURL");
    auto paramsRemoved = json_fields::requiredInt64(json, "paramsRemoved");
    if (!originalURL || !cleanedURL || !paramsRemoved) return std::nullopt;

    CleanResult result;
    result.originalURL = std::move(*originalURL);
    result.cleanedURL = std::move(*cleanedURL);
    result.paramsRemoved = *paramsRemoved;
    if (!stringList(json, "removedQueryParameters", result.removedQueryParameters) ||
        !stringList(json, "matchedRuleIDs", result.matchedRuleIDs)) {
        return std::nullopt;
    }
    const bool categoriesRead = optionalArray(json, "matchedCategories", [&result](const nlohmann::json& item) {
        if (!item.is_string()) return false;
        auto type = ruleCategoryTypeFromRawValue(item.get_ref<const std::string&>());
        if (type) result.matchedCategories.insert(*type);
        return type.has_value();
    });
    const bool operationsRead = optionalArray(json, "operations", [&result](const nlohmann::json& item) {
        auto operation = CleanOperation::fromJson(item);
        if (operation) result.operations.push_back(std::move(*operation));
        return operation.has_value();
    });
    if (!categoriesRead || !operationsRead) return std::nullopt;

    if (const nlohmann::json* value = json_fields::field(json, "cleanedOriginalURL"); value && !value->is_null()) {
        if (!value->is_string()) return std::nullopt;
        result.cleanedOriginalURL = value->get<std::string>();
    }
    if (const nlohmann::json* value = json_fields::field(json, "privacyRedirect"); value && !value->is_null()) {
        auto info = PrivacyRedirectInfo::fromJson(*value);
        if (!info) return std::nullopt;
        result.privacyRedirect = std::move(*info);
    }
    return result;
}

}  // namespace tessaril
