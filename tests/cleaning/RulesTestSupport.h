// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/matching/LinkMatch.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tessaril::testing {

inline std::string rulesFixture(const std::string& name) {
    return readFile(std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data/rules" / name);
}

inline const RuleCategory& category(const RulesEngine& engine, RuleCategoryType type) {
    return *engine.categories().at(static_cast<std::size_t>(type));
}
inline RuleCategory& category(RulesEngine& engine, RuleCategoryType type) {
    return *engine.categories().at(static_cast<std::size_t>(type));
}

inline std::vector<std::string> ruleIDs(const RuleCategory& category) {
    std::vector<std::string> ids;
    for (const auto& rule : category.rules())
        ids.push_back(rule->id());
    return ids;
}

inline const CompiledProvider* provider(const RulesEngine& engine, const std::string& name) {
    for (const auto& compiled : engine.compiledProviders()) {
        if (compiled.name == name) return &compiled;
    }
    return nullptr;
}

// The rules' answers about a link.
inline LinkMatch matched(const RulesEngine& engine, std::string_view url) {
    LinkMatch link;
    engine.matcher().match(url, link);
    return link;
}

// The identifier of the rule that removes parameter `name` from the link, or "" when none does.
inline std::string strippedBy(const RulesEngine& engine, std::string_view url, std::string_view name) {
    auto link = matched(engine, url);
    const auto rule = link.strippingRule(name);
    return rule ? rule->id() : std::string();
}

// The identifier of the built-in or custom rule that removes a parameter named `name` (plain URL
// characters only), or "" when none does.
inline std::string builtInRuleFor(const RulesEngine& engine, const std::string& name) {
    const std::string url = "https://example.invalid/?" + name + "=1";
    for (const auto& [parameter, id] : matched(engine, url).explain().builtInRules) {
        if (parameter == name) return id;
    }
    return {};
}

}  // namespace tessaril::testing
