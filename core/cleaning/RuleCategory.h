// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/RuleEntry.h"
#include "core/foundation/Signal.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// One category of the rules tree: a switch, a match count and the rules listed under it. Shared by
// reference (std::shared_ptr). Every change of the rule list goes through the mutators below, which
// keep an index from rule identifier to the first rule carrying it, because the cleaner asks for a
// rule's switch for every query parameter it looks at.
class RuleCategory {
public:
    using Rules = std::vector<std::shared_ptr<RuleEntry>>;

    explicit RuleCategory(RuleCategoryType type, bool isEnabled = true, Rules rules = {});
    RuleCategory(const RuleCategory&) = delete;
    RuleCategory& operator=(const RuleCategory&) = delete;

    // Always the raw value of the type.
    [[nodiscard]] std::string_view id() const { return rawValue(type_); }
    [[nodiscard]] RuleCategoryType type() const { return type_; }

    [[nodiscard]] bool isEnabled() const { return isEnabled_; }
    void setEnabled(bool enabled);
    [[nodiscard]] Signal<bool>& enabledChanged() { return enabledChanged_; }

    [[nodiscard]] std::int64_t matchCount() const { return matchCount_; }
    void setMatchCount(std::int64_t count);
    [[nodiscard]] Signal<std::int64_t>& matchCountChanged() { return matchCountChanged_; }

    [[nodiscard]] const Rules& rules() const { return rules_; }
    [[nodiscard]] Signal<>& rulesChanged() { return rulesChanged_; }
    void setRules(Rules rules);
    void appendRule(std::shared_ptr<RuleEntry> rule);
    void insertRule(std::size_t position, std::shared_ptr<RuleEntry> rule);
    // Removes every rule the predicate selects; returns how many went.
    std::size_t removeRulesIf(const std::function<bool(const RuleEntry&)>& predicate);

    // The first listed rule with this identifier (identifiers may repeat across providers).
    [[nodiscard]] RuleEntry* firstRule(std::string_view ruleID) const;

    [[nodiscard]] std::int64_t totalMatchCount() const;
    [[nodiscard]] std::size_t enabledRuleCount() const;

    // Keys "id", "type", "isEnabled", "matchCount", "rules".
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // "type", "isEnabled", "matchCount" and "rules" are required; "id" is ignored and follows the type.
    [[nodiscard]] static std::optional<std::shared_ptr<RuleCategory>> fromJson(const nlohmann::json& json);

private:
    void rebuildIndex();

    RuleCategoryType type_;
    bool isEnabled_;
    std::int64_t matchCount_ = 0;
    Rules rules_;
    // Keyed by the identifier held by the entry itself: an entry's identifier never changes, and the
    // index is rebuilt whenever an entry leaves rules_ (thousands of copied keys were a tenth of
    // making the tree).
    std::unordered_map<std::string_view, RuleEntry*> firstRuleByID_;
    Signal<bool> enabledChanged_;
    Signal<std::int64_t> matchCountChanged_;
    Signal<> rulesChanged_;
};

}  // namespace tessaril
