// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RuleEntry.h"

#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

RuleEntry::RuleEntry(std::optional<std::string> id, std::string pattern, std::string displayName,
                     RuleCategoryType category, Source source, bool isEnabled, std::string origin)
    : id_(id ? std::move(*id) : std::string(rawValue(category)) + ":" + pattern),
      pattern_(std::move(pattern)),
      displayName_(std::move(displayName)),
      category_(category),
      source_(source),
      origin_(std::move(origin)),
      isEnabled_(isEnabled) {}

std::string_view RuleEntry::origin() const {
    return origin_.empty() ? rawValue(source_) : std::string_view(origin_);
}

void RuleEntry::setEnabled(bool enabled) {
    if (enabled == isEnabled_) return;
    isEnabled_ = enabled;
    enabledChanged_.emit(enabled);
}

void RuleEntry::setMatchCount(std::int64_t count) {
    if (count == matchCount_) return;
    matchCount_ = count;
    matchCountChanged_.emit(count);
}

nlohmann::ordered_json RuleEntry::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["id"] = id_;
    json["pattern"] = pattern_;
    json["displayName"] = displayName_;
    json["category"] = rawValue(category_);
    json["source"] = rawValue(source_);
    json["isEnabled"] = isEnabled_;
    json["matchCount"] = matchCount_;
    return json;
}

std::optional<std::shared_ptr<RuleEntry>> RuleEntry::fromJson(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    auto id = json_fields::requiredString(json, "id");
    auto pattern = json_fields::requiredString(json, "pattern");
    auto displayName = json_fields::requiredString(json, "displayName");
    auto categoryName = json_fields::requiredString(json, "category");
    auto sourceName = json_fields::requiredString(json, "source");
    auto isEnabled = json_fields::requiredBool(json, "isEnabled");
    auto matchCount = json_fields::requiredInt64(json, "matchCount");
    if (!id || !pattern || !displayName || !categoryName || !sourceName || !isEnabled || !matchCount) {
        return std::nullopt;
    }
    auto category = ruleCategoryTypeFromRawValue(*categoryName);
    auto source = ruleSourceFromRawValue(*sourceName);
    if (!category || !source) return std::nullopt;
    auto entry = std::make_shared<RuleEntry>(std::move(*id), std::move(*pattern), std::move(*displayName), *category,
                                             *source, *isEnabled);
    entry->matchCount_ = *matchCount;
    return entry;
}

std::string_view rawValue(RuleEntry::Source source) {
    switch (source) {
        case RuleEntry::Source::clearURLs:
            return "ClearURLs";
        case RuleEntry::Source::fallback:
            return "Built-in";
        case RuleEntry::Source::custom:
            return "Custom";
    }
    return "Custom";
}

std::optional<RuleEntry::Source> ruleSourceFromRawValue(std::string_view raw) {
    for (auto source : {RuleEntry::Source::clearURLs, RuleEntry::Source::fallback, RuleEntry::Source::custom}) {
        if (rawValue(source) == raw) return source;
    }
    return std::nullopt;
}

}  // namespace tessaril
