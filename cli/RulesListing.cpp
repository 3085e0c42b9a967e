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

bool sameSource(std::string_view a, std::string_view b) {
    return text::toLower(a) == text::toLower(b);
}

// A category with the rules the selection shows of it.
struct Shown {
    const RuleCategory* category;
    std::vector<const RuleEntry*> rules;

    [[nodiscard]] std::size_t enabledRuleCount() const {
        return static_cast<std::size_t>(
            std::count_if(rules.begin(), rules.end(), [](const RuleEntry* rule) { return rule->isEnabled(); }));
    }
};

std::vector<Shown> selected(const RulesEngine& engine, const RuleSelection& selection) {
    std::vector<Shown> shown;
    for (const auto& category : engine.categories()) {
        if (selection.category && category->type() != *selection.category) continue;
        Shown entry{category.get(), {}};
        for (const auto& rule : category->rules()) {
            if (selection.includes(category->type(), rule->origin())) entry.rules.push_back(rule.get());
        }
        // Filtered by source, a category none of whose rules come from it says nothing.
        if (selection.source && entry.rules.empty()) continue;
        shown.push_back(std::move(entry));
    }
    return shown;
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

void writeTable(const std::vector<Shown>& shown, std::ostream& out) {
    std::size_t countWidth = 1;
    std::size_t sourceWidth = 0;
    std::size_t idWidth = 0;
    for (const auto& [category, rules] : shown) {
        for (const auto* rule : rules) {
            countWidth = std::max(countWidth, std::to_string(rule->matchCount()).size());
            sourceWidth = std::max(sourceWidth, width(text::escapedForTerminal(rule->origin())));
            idWidth = std::max(idWidth, std::min(width(text::escapedForTerminal(rule->id())), kMaxIdentifierColumn));
        }
    }
    bool first = true;
    for (const auto& entry : shown) {
        const RuleCategory* category = entry.category;
        if (!first) out << '\n';
        first = false;
        out << category->id() << ": " << (category->isEnabled() ? "on" : "off") << ", " << category->matchCount()
            << (category->matchCount() == 1 ? " match, " : " matches, ");
        if (entry.rules.empty()) {
            out << "no rules\n";
            continue;
        }
        out << entry.enabledRuleCount() << " of " << entry.rules.size() << " rules on\n";
        for (const auto* rule : entry.rules) {
            out << "  ";
            pad(out, rule->isEnabled() ? "on" : "off", 3);
            out << "  ";
            const std::string count = std::to_string(rule->matchCount());
            out << std::string(countWidth - count.size(), ' ') << count << "  ";
            pad(out, text::escapedForTerminal(rule->origin()), sourceWidth);
            out << "  ";
            pad(out, text::escapedForTerminal(rule->id()), idWidth);
            out << "  " << text::escapedForTerminal(rule->displayName()) << '\n';
        }
    }
}

std::optional<std::string> jsonDocument(const std::vector<Shown>& shown) {
    nlohmann::ordered_json document = nlohmann::ordered_json::array();
    for (const auto& [category, shownRules] : shown) {
        nlohmann::ordered_json json = nlohmann::ordered_json::object();
        json["id"] = category->id();
        json["description"] = description(category->type());
        json["isEnabled"] = category->isEnabled();
        json["matchCount"] = category->matchCount();
        json["ruleCount"] = shownRules.size();
        json["enabledRuleCount"] = Shown{category, shownRules}.enabledRuleCount();
        auto rules = nlohmann::ordered_json::array();
        for (const auto* rule : shownRules) {
            rules.push_back(rule->toJson());
            rules.back()["origin"] = rule->origin();
        }
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

bool RuleSelection::includes(RuleCategoryType type, std::string_view origin) const {
    return (!category || type == *category) && (!source || sameSource(origin, *source));
}

std::vector<std::string> ruleSources(const RulesEngine& engine) {
    std::vector<std::string> sources;
    for (const auto& category : engine.categories()) {
        for (const auto& rule : category->rules()) {
            if (std::find(sources.begin(), sources.end(), rule->origin()) == sources.end())
                sources.emplace_back(rule->origin());
        }
    }
    std::sort(sources.begin(), sources.end());
    return sources;
}

bool knownSource(const RulesEngine& engine, std::string_view source, std::ostream& err) {
    const auto sources = ruleSources(engine);
    if (std::any_of(sources.begin(), sources.end(),
                    [&](const std::string& known) { return sameSource(known, source); }))
        return true;
    err << "tessaril: no rules come from \"" << text::escapedForTerminal(source) << "\"; the sources are";
    const char* separator = " ";
    for (const auto& known : sources) {
        err << separator << '"' << text::escapedForTerminal(known) << '"';
        separator = ", ";
    }
    err << '\n';
    return false;
}

ExitStatus listRules(const RulesEngine& engine, const RuleSelection& selection, bool json, std::ostream& out,
                     std::ostream& err) {
    if (selection.source && !knownSource(engine, *selection.source, err)) return ExitStatus::usage;
    const auto shown = selected(engine, selection);
    if (json) {
        const auto document = jsonDocument(shown);
        if (!document) {
            err << "tessaril: the rules could not be written as JSON\n";
            return ExitStatus::rulesUnreadable;
        }
        out << *document << '\n';
    } else {
        writeTable(shown, out);
    }
    return ExitStatus::success;
}

}  // namespace tessaril::cli
