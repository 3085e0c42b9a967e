// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/RuleCategoryType.h"
#include "core/foundation/Signal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// One rule as the user sees it in the rules list. Shared by reference (std::shared_ptr) between the
// category tree, views and the engine; only the switch and the match count change after creation.
class RuleEntry {
public:
    enum class Source { clearURLs, fallback, custom };

    // Without an identifier, the entry is identified as "<category raw value>:<pattern>". The origin
    // names the rule list a provider rule was taken from; without one it is the source's name.
    RuleEntry(std::optional<std::string> id, std::string pattern, std::string displayName, RuleCategoryType category,
              Source source, bool isEnabled = true, std::string origin = {});
    RuleEntry(const RuleEntry&) = delete;
    RuleEntry& operator=(const RuleEntry&) = delete;

    [[nodiscard]] const std::string& id() const { return id_; }
    [[nodiscard]] const std::string& pattern() const { return pattern_; }
    [[nodiscard]] const std::string& displayName() const { return displayName_; }
    [[nodiscard]] RuleCategoryType category() const { return category_; }
    [[nodiscard]] Source source() const { return source_; }
    [[nodiscard]] std::string_view origin() const;

    [[nodiscard]] bool isEnabled() const { return isEnabled_; }
    void setEnabled(bool enabled);
    [[nodiscard]] Signal<bool>& enabledChanged() { return enabledChanged_; }

    [[nodiscard]] std::int64_t matchCount() const { return matchCount_; }
    void setMatchCount(std::int64_t count);
    [[nodiscard]] Signal<std::int64_t>& matchCountChanged() { return matchCountChanged_; }

    // The seven keys "id", "pattern", "displayName", "category", "source", "isEnabled", "matchCount".
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // All seven keys are required with their exact JSON types; unknown category or source names fail.
    [[nodiscard]] static std::optional<std::shared_ptr<RuleEntry>> fromJson(const nlohmann::json& json);

private:
    std::string id_;
    std::string pattern_;
    std::string displayName_;
    RuleCategoryType category_;
    Source source_;
    std::string origin_;
    bool isEnabled_;
    std::int64_t matchCount_ = 0;
    Signal<bool> enabledChanged_;
    Signal<std::int64_t> matchCountChanged_;
};

// "ClearURLs", "Built-in" or "Custom".
[[nodiscard]] std::string_view rawValue(RuleEntry::Source source);
[[nodiscard]] std::optional<RuleEntry::Source> ruleSourceFromRawValue(std::string_view raw);

}  // namespace tessaril
