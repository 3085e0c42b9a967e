// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RulesListing.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/foundation/Text.h"

namespace tessaril::cli {

namespace {

// Beyond this many characters an identifier no longer widens its column; the few very long path
// rules would otherwise push every name off the screen.
constexpr std::size_t kMaxIdentifierColumn = 48;

std::vector<const RuleCategory*> selected(const RulesEngine& engine, std::optional<RuleCategoryType> only) {
    std::vector<const RuleCategory*> categories;
    for (const auto& category : engine.categories()) {
        if (!only || category->type() == *only) categories.push_back(category.get());
    }
    return categories;
}

// Every text shown in the table has been escaped, so it is UTF-8.
std::size_t width(std::string_view text) {
    return text::graphemeCount(text);
}

void pad(std::ostream& out, std::string_view text, std::size_t columns) {
    out << text;
    for (std::size_t used = width(text); used < columns; ++used)
        out << ' ';
}

void writeTable(const std::vector<const RuleCategory*>& categories, std::ostream& out) {
    std::size_t countWidth = 1;
    std::size_t sourceWidth = 0;
    std::size_t idWidth = 0;
    for (const auto* category : categories) {
        for (const auto& rule : category->rules()) {
            countWidth = std::max(countWidth, std::to_string(rule->matchCount()).size());
            sourceWidth = std::max(sourceWidth, rawValue(rule->source()).size());
            idWidth = std::max(idWidth, std::min(width(text::escapedForTerminal(rule->id())), kMaxIdentifierColumn));
        }
    }
    bool first = true;
    for (const auto* category : categories) {
        if (!first) out << '\n';
        first = false;
        out << category->id() << ": " << (category->isEnabled() ? "on" : "off") << ", " << category->matchCount()
            << (category->matchCount() == 1 ? " match, " : " matches, ");
        if (category->rules().empty()) {
            out << "no rules\n";
            continue;
        }
        out << category->enabledRuleCount() << " of " << category->rules().size() << " rules on\n";
        for (const auto& rule : category->rules()) {
            out << "  ";
            pad(out, rule->isEnabled() ? "on" : "off", 3);
            out << "  ";
            const std::string count = std::to_string(rule->matchCount());
            out << std::string(countWidth - count.size(), ' ') << count << "  ";
            pad(out, rawValue(rule->source()), sourceWidth);
            out << "  ";
            pad(out, text::escapedForTerminal(rule->id()), idWidth);
            out << "  " << text::escapedForTerminal(rule->displayName()) << '\n';
        }
    }
}

std::optional<std::string> jsonDocument(const std::vector<const RuleCategory*>& categories) {
    nlohmann::ordered_json document = nlohmann::ordered_json::array();
    for (const auto* category : categories) {
        nlohmann::ordered_json json = nlohmann::ordered_json::object();
        json["id"] = category->id();
        json["description"] = description(category->type());
        json["isEnabled"] = category->isEnabled();
        json["matchCount"] = category->matchCount();
        json["ruleCount"] = category->rules().size();
        json["enabledRuleCount"] = category->enabledRuleCount();
        auto rules = nlohmann::ordered_json::array();
        for (const auto& rule : category->rules())
            rules.push_back(rule->toJson());
        json["rules"] = std::move(rules);
        document.push_back(std::move(json));
    }
    try {
        return document.dump(2);
    } catch (const std::exception&) {
        // A rule text that is not UTF-8 cannot be written as JSON.
        return std::nullopt;
    }
}

}  // namespace

ExitStatus listRules(const RulesEngine& engine, std::optional<RuleCategoryType> only, bool json, std::ostream& out,
                     std::ostream& err) {
    const auto categories = selected(engine, only);
    if (json) {
        const auto document = jsonDocument(categories);
        if (!document) {
            err << "tessaril: the rules could not be written as JSON\n";
            return ExitStatus::rulesUnreadable;
        }
        out << *document << '\n';
    } else {
        writeTable(categories, out);
    }
    return ExitStatus::success;
}

}  // namespace tessaril::cli
