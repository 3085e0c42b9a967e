// SPDX-License-Identifier: GPL-3.0-or-later
// The user's side of the rules engine: switches, match counts, custom rules, import, export, resets.
#include "core/cleaning/CustomRuleCheck.h"
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/JsonFields.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <limits>
#include <map>
#include <set>

#include <nlohmann/json.hpp>

namespace tessaril {

namespace {

std::optional<nlohmann::json> parseJson(std::string_view text) {
    try {
        auto json = nlohmann::json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
        if (json.is_discarded()) return std::nullopt;
        return json;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The stored text of a JSON document, or nothing when it cannot be encoded (invalid UTF-8).
template <typename Json>
std::optional<std::string> encode(const Json& json, int indent = -1) {
    try {
        return json.dump(indent);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// A stored switch or count map decodes only when every value has the expected type; otherwise the
// whole document is ignored.
template <typename Value, typename Convert>
std::optional<std::map<std::string, Value, std::less<>>> decodeMap(const std::optional<std::string>& text,
                                                                   Convert convert) {
    if (!text) return std::nullopt;
    auto json = parseJson(*text);
    if (!json || !json->is_object()) return std::nullopt;
    std::map<std::string, Value, std::less<>> map;
    for (const auto& [key, value] : json->items()) {
        std::optional<Value> converted = convert(value);
        if (!converted) return std::nullopt;
        map.insert_or_assign(key, *converted);
    }
    return map;
}

template <typename Map>
const typename Map::mapped_type* lookup(const Map& map, std::string_view prefix, std::string_view id) {
    std::string key(prefix);
    key += id;
    auto found = map.find(key);
    return found == map.end() ? nullptr : &found->second;
}

std::string tooManyCustomRules(std::size_t count) {
    return "that would make " + std::to_string(count) + " custom rules; at most " + std::to_string(maximumCustomRules) +
           " are kept";
}

std::int64_t incremented(std::int64_t count) {
    return count == std::numeric_limits<std::int64_t>::max() ? count : count + 1;
}

}  // namespace

void RulesEngine::loadPersistedState() {
    applyPersistedState(defaults_.dataText(enabledStateKey), defaults_.dataText(matchCountsKey));
}

void RulesEngine::applyPersistedState(const std::optional<std::string>& enabledText,
                                      const std::optional<std::string>& countsText) const {
    auto enabled = decodeMap<bool>(enabledText, [](const nlohmann::json& value) {
        return value.is_boolean() ? std::optional<bool>(value.get<bool>()) : std::nullopt;
    });
    if (enabled) {
        for (const auto& category : categories_) {
            if (const bool* value = lookup(*enabled, "cat:", category->id())) category->setEnabled(*value);
            for (const auto& rule : category->rules()) {
                if (const bool* value = lookup(*enabled, "rule:", rule->id())) rule->setEnabled(*value);
            }
        }
    }
    auto counts =
        decodeMap<std::int64_t>(countsText, [](const nlohmann::json& value) { return json_fields::int64Value(value); });
    if (counts) {
        for (const auto& category : categories_) {
            if (const auto* value = lookup(*counts, "cat:", category->id())) category->setMatchCount(*value);
            for (const auto& rule : category->rules()) {
                if (const auto* value = lookup(*counts, "rule:", rule->id())) rule->setMatchCount(*value);
            }
        }
    }
}

void RulesEngine::loadCustomRules() {
    auto text = defaults_.dataText(customRulesKey);
    if (!text) return;
    auto json = parseJson(*text);
    if (!json || !json->is_array()) return;
    std::vector<std::shared_ptr<RuleEntry>> entries;
    entries.reserve(json->size());
    for (const auto& item : *json) {
        auto entry = RuleEntry::fromJson(item);
        if (!entry) return;
        // Rules stored by an older version without these checks are left out, not repaired, and
        // at most the number a user could have added is read: every rule costs every link time.
        if (customRuleProblem((*entry)->pattern(), (*entry)->displayName())) continue;
        if (entries.size() == maximumCustomRules) break;
        entries.push_back(std::move(*entry));
    }
    for (auto& entry : entries) {
        std::string id = entry->id();
        std::string pattern = entry->pattern();
        RuleCategoryType category = entry->category();
        if (RuleCategory* listed = firstCategory(category)) listed->appendRule(std::move(entry));
        appendFallbackRule(pattern, std::move(id), category);
    }
}

void RulesEngine::saveEnabledStates() {
    ensureTree();
    nlohmann::json map = nlohmann::json::object();
    for (const auto& category : categories_) {
        map["cat:" + std::string(category->id())] = category->isEnabled();
        for (const auto& rule : category->rules())
            map["rule:" + rule->id()] = rule->isEnabled();
    }
    if (auto text = encode(map)) defaults_.setDataText(enabledStateKey, *text);
}

RulesEngine::MatchCountLayout RulesEngine::makeMatchCountLayout() const {
    ensureTree();
    // The document is a JSON object: keys sorted, and of keys that repeat (rules of two providers
    // may share an identifier) the last one written wins.
    std::map<std::string, MatchCountLayout::Key> keys;
    for (const auto& category : categories_) {
        keys["cat:" + std::string(category->id())] = {{}, category.get(), nullptr};
        for (const auto& rule : category->rules())
            keys["rule:" + rule->id()] = {{}, nullptr, rule.get()};
    }
    MatchCountLayout layout;
    for (auto& [name, key] : keys) {
        const auto encoded = encode(nlohmann::json(name));
        if (!encoded) layout.encodable = false;  // not UTF-8: the document cannot be written
        key.encoded = encoded.value_or(std::string()) + ':';
        layout.keys.push_back(std::move(key));
    }
    return layout;
}

void RulesEngine::saveMatchCounts() {
    if (!matchCountLayout_) matchCountLayout_ = makeMatchCountLayout();
    if (!matchCountLayout_->encodable) return;
    std::string text = "{";
    for (const auto& key : matchCountLayout_->keys) {
        if (text.size() > 1) text += ',';
        text += key.encoded;
        char digits[24];
        const std::int64_t count = key.category != nullptr ? key.category->matchCount() : key.rule->matchCount();
        text.append(digits, std::to_chars(digits, digits + sizeof digits, count).ptr);
    }
    text += '}';
    defaults_.setDataText(matchCountsKey, text);
}

void RulesEngine::saveCustomRules() {
    ensureTree();
    nlohmann::ordered_json entries = nlohmann::ordered_json::array();
    for (const auto& category : categories_) {
        for (const auto& rule : category->rules()) {
            if (rule->source() == RuleEntry::Source::custom) entries.push_back(rule->toJson());
        }
    }
    if (auto text = encode(entries)) defaults_.setDataText(customRulesKey, *text);
}

void RulesEngine::recordMatch(std::string_view ruleID, RuleCategoryType type) {
    if (statisticsEnabled_ && !statisticsEnabled_()) return;
    RuleCategory* category = firstCategory(type);
    if (category == nullptr) return;
    category->setMatchCount(incremented(category->matchCount()));
    if (RuleEntry* rule = category->firstRule(ruleID)) rule->setMatchCount(incremented(rule->matchCount()));
}

void RulesEngine::addCustomRule(std::string_view pattern, std::string_view displayName, RuleCategoryType category) {
    // No duplicate check: adding the same pattern twice lists it twice, under one identifier.
    std::string id = std::string(rawValue(category)) + ":" + std::string(pattern);
    auto entry = std::make_shared<RuleEntry>(id, std::string(pattern), std::string(displayName), category,
                                             RuleEntry::Source::custom);
    if (RuleCategory* listed = firstCategory(category)) listed->appendRule(std::move(entry));
    appendFallbackRule(pattern, std::move(id), category);
    saveCustomRules();
    saveEnabledStates();
}

void RulesEngine::removeCustomRule(std::string_view id) {
    ensureTree();
    for (const auto& category : categories_) {
        category->removeRulesIf(
            [&](const RuleEntry& rule) { return rule.id() == id && rule.source() == RuleEntry::Source::custom; });
    }
    // By identifier alone: a built-in rule that shares it goes too, until the next load.
    std::erase_if(fallbackRules_, [&](const FallbackRule& rule) { return rule.ruleID == id; });
    rulesChanged();
    saveCustomRules();
}

std::optional<std::string> RulesEngine::exportRules() const {
    ensureTree();
    nlohmann::ordered_json document = nlohmann::ordered_json::array();
    for (const auto& category : categories_)
        document.push_back(category->toJson());
    return encode(document, 2);
}

std::size_t RulesEngine::customRuleCount() const {
    ensureTree();
    std::size_t count = 0;
    for (const auto& category : categories_) {
        count += static_cast<std::size_t>(std::ranges::count_if(
            category->rules(), [](const auto& rule) { return rule->source() == RuleEntry::Source::custom; }));
    }
    return count;
}

std::optional<std::string> RulesEngine::customRuleRefusal(std::string_view pattern,
                                                          std::string_view displayName) const {
    if (auto problem = customRuleProblem(pattern, displayName)) return problem;
    if (customRuleCount() >= maximumCustomRules) return tooManyCustomRules(customRuleCount() + 1);
    return std::nullopt;
}

RulesEngine::ImportDecode RulesEngine::decodeImport(std::string_view data) const {
    auto json = parseJson(data);
    if (!json) return std::string("it is not JSON");
    if (!json->is_array()) return std::string("it is not a rules export (a JSON array of rule categories)");
    std::vector<std::shared_ptr<RuleCategory>> imported;
    imported.reserve(json->size());
    std::size_t customRules = customRuleCount();
    for (std::size_t index = 0; index < json->size(); ++index) {
        const std::string entry = "entry " + std::to_string(index + 1);
        auto category = RuleCategory::fromJson((*json)[index]);
        if (!category) {
            return entry + " is not a rule category (an unknown category, or a rule with missing or invalid fields)";
        }
        const RuleCategory* existing = firstCategory((*category)->type());
        std::set<std::string, std::less<>> added;
        for (std::size_t at = 0; at < (*category)->rules().size(); ++at) {
            const RuleEntry& rule = *(*category)->rules()[at];
            if (rule.source() != RuleEntry::Source::custom) continue;
            const std::string where = "rule " + std::to_string(at + 1) + " of " + entry + ": ";
            if (auto problem = customRuleProblem(rule.pattern(), rule.displayName())) return where + *problem;
            // A rule must be what adding it by hand would have made, or switches and removals
            // would address it under a name it does not go by.
            if (rule.category() != (*category)->type()) {
                return where + "it says " + std::string(rawValue(rule.category())) + " but is listed under " +
                       std::string(rawValue((*category)->type()));
            }
            if (rule.id() != std::string(rawValue(rule.category())) + ":" + rule.pattern()) {
                return where + "its identifier is not its category and parameter name";
            }
            if (existing == nullptr || existing->firstRule(rule.id()) != nullptr) continue;
            if (added.insert(rule.id()).second) ++customRules;
        }
        imported.push_back(std::move(*category));
    }
    if (customRules > maximumCustomRules) return tooManyCustomRules(customRules);
    return imported;
}

std::optional<std::string> RulesEngine::importRefusal(std::string_view data) const {
    auto decoded = decodeImport(data);
    if (auto* refusal = std::get_if<std::string>(&decoded)) return std::move(*refusal);
    return std::nullopt;
}

bool RulesEngine::importRules(std::string_view data) {
    auto decoded = decodeImport(data);
    auto* imported = std::get_if<std::vector<std::shared_ptr<RuleCategory>>>(&decoded);
    if (imported == nullptr) return false;
    for (const auto& importedCategory : *imported) {
        RuleCategory* existing = firstCategory(importedCategory->type());
        if (existing == nullptr) continue;
        existing->setEnabled(importedCategory->isEnabled());
        // Only custom rules travel with an import; the switches of shipped rules stay as they are.
        for (const auto& rule : importedCategory->rules()) {
            if (rule->source() != RuleEntry::Source::custom || existing->firstRule(rule->id()) != nullptr) continue;
            existing->appendRule(rule);
            appendFallbackRule(rule->pattern(), rule->id(), rule->category());
        }
    }
    saveEnabledStates();
    saveCustomRules();
    return true;
}

void RulesEngine::removeAllCustomRules() {
    ensureTree();
    std::set<std::string, std::less<>> customIDs;
    for (const auto& category : categories_) {
        for (const auto& rule : category->rules()) {
            if (rule->source() == RuleEntry::Source::custom) customIDs.insert(rule->id());
        }
    }
    for (const auto& category : categories_) {
        category->removeRulesIf([](const RuleEntry& rule) { return rule.source() == RuleEntry::Source::custom; });
    }
    std::erase_if(fallbackRules_, [&](const FallbackRule& rule) { return customIDs.contains(rule.ruleID); });
    rulesChanged();
}

void RulesEngine::resetToDefaults() {
    ensureTree();
    for (const auto& category : categories_) {
        category->setEnabled(true);
        for (const auto& rule : category->rules())
            rule->setEnabled(true);
    }
    removeAllCustomRules();
    defaults_.remove(enabledStateKey);
    defaults_.remove(customRulesKey);
}

void RulesEngine::resetMatchCounts() {
    ensureTree();
    for (const auto& category : categories_) {
        category->setMatchCount(0);
        for (const auto& rule : category->rules())
            rule->setMatchCount(0);
    }
    defaults_.remove(matchCountsKey);
}

void RulesEngine::loadStoredRuleState() {
    // Custom rules first: a custom rule's entry keeps the switch and count of the day it was added
    // or imported, while every later switch and count is saved in the two maps over the whole tree.
    // Applied after the entries, the maps win, so switching a custom rule off lasts like any other.
    loadCustomRules();
    loadPersistedState();
}

void RulesEngine::reloadPersistedState() {
    removeAllCustomRules();
    loadStoredRuleState();
}

}  // namespace tessaril
