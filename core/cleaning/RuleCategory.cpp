// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RuleCategory.h"

#include "core/foundation/JsonFields.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace tessaril {

RuleCategory::RuleCategory(RuleCategoryType type, bool isEnabled, Rules rules)
    : type_(type), isEnabled_(isEnabled), rules_(std::move(rules)) {
    std::erase(rules_, nullptr);
    rebuildIndex();
}

void RuleCategory::setEnabled(bool enabled) {
    if (enabled == isEnabled_) return;
    isEnabled_ = enabled;
    enabledChanged_.emit(enabled);
}

void RuleCategory::setMatchCount(std::int64_t count) {
    if (count == matchCount_) return;
    matchCount_ = count;
    matchCountChanged_.emit(count);
}

void RuleCategory::setRules(Rules rules) {
    rules_ = std::move(rules);
    std::erase(rules_, nullptr);
    rebuildIndex();
    rulesChanged_.emit();
}

void RuleCategory::appendRule(std::shared_ptr<RuleEntry> rule) {
    if (!rule) return;
    // An identifier already listed keeps pointing at its earlier rule.
    firstRuleByID_.try_emplace(rule->id(), rule.get());
    rules_.push_back(std::move(rule));
    rulesChanged_.emit();
}

void RuleCategory::insertRule(std::size_t position, std::shared_ptr<RuleEntry> rule) {
    if (!rule) return;
    if (position > rules_.size()) position = rules_.size();
    // The new entry is the first with its identifier unless one listed before it has it too; the
    // built-in rules put one at the top of a list of thousands.
    const auto before = rules_.begin() + static_cast<std::ptrdiff_t>(position);
    if (std::none_of(rules_.begin(), before, [&](const auto& listed) { return listed->id() == rule->id(); }))
        firstRuleByID_.insert_or_assign(std::string_view(rule->id()), rule.get());
    rules_.insert(before, std::move(rule));
    rulesChanged_.emit();
}

std::size_t RuleCategory::removeRulesIf(const std::function<bool(const RuleEntry&)>& predicate) {
    std::size_t removed = std::erase_if(rules_, [&](const auto& rule) { return predicate(*rule); });
    if (removed == 0) return 0;
    rebuildIndex();
    rulesChanged_.emit();
    return removed;
}

RuleEntry* RuleCategory::firstRule(std::string_view ruleID) const {
    auto found = firstRuleByID_.find(ruleID);
    return found == firstRuleByID_.end() ? nullptr : found->second;
}

std::int64_t RuleCategory::totalMatchCount() const {
    std::int64_t total = 0;
    for (const auto& rule : rules_) {
        // Counts come from stored documents too; saturate rather than overflow.
        std::int64_t count = rule->matchCount();
        if (count > 0 && total > std::numeric_limits<std::int64_t>::max() - count) {
            total = std::numeric_limits<std::int64_t>::max();
        } else if (count < 0 && total < std::numeric_limits<std::int64_t>::min() - count) {
            total = std::numeric_limits<std::int64_t>::min();
        } else {
            total += count;
        }
    }
    return total;
}

std::size_t RuleCategory::enabledRuleCount() const {
    std::size_t count = 0;
    for (const auto& rule : rules_) {
        if (rule->isEnabled()) ++count;
    }
    return count;
}

nlohmann::ordered_json RuleCategory::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["id"] = id();
    json["type"] = rawValue(type_);
    json["isEnabled"] = isEnabled_;
    json["matchCount"] = matchCount_;
    auto rules = nlohmann::ordered_json::array();
    for (const auto& rule : rules_)
        rules.push_back(rule->toJson());
    json["rules"] = std::move(rules);
    return json;
}

std::optional<std::shared_ptr<RuleCategory>> RuleCategory::fromJson(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    auto typeName = json_fields::requiredString(json, "type");
    auto isEnabled = json_fields::requiredBool(json, "isEnabled");
    auto matchCount = json_fields::requiredInt64(json, "matchCount");
    const nlohmann::json* rulesJson = json_fields::field(json, "rules");
    if (!typeName || !isEnabled || !matchCount || rulesJson == nullptr || !rulesJson->is_array()) {
        return std::nullopt;
    }
    auto type = ruleCategoryTypeFromRawValue(*typeName);
    if (!type) return std::nullopt;
    Rules rules;
    rules.reserve(rulesJson->size());
    for (const auto& ruleJson : *rulesJson) {
        auto rule = RuleEntry::fromJson(ruleJson);
        if (!rule) return std::nullopt;
        rules.push_back(std::move(*rule));
    }
    auto category = std::make_shared<RuleCategory>(*type, *isEnabled, std::move(rules));
    category->matchCount_ = *matchCount;
    return category;
}

void RuleCategory::rebuildIndex() {
    firstRuleByID_.clear();
    firstRuleByID_.reserve(rules_.size());
    for (const auto& rule : rules_)
        firstRuleByID_.try_emplace(rule->id(), rule.get());
}

}  // namespace tessaril
