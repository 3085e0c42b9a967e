// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RuleSettingsEdit.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <ostream>
#include <set>
#include <system_error>
#include <utility>

#include "core/foundation/FileContents.h"
#include "core/foundation/Text.h"

namespace tessaril::cli {

namespace {

namespace fs = std::filesystem;

std::string folded(std::string_view name) {
    std::string result;
    for (char c : text::asciiLower(name)) {
        if (c != ' ' && c != '-' && c != '_') result += c;
    }
    return result;
}

std::string plural(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

}  // namespace

std::optional<RuleCategoryType> categoryNamed(std::string_view name) {
    if (auto exact = ruleCategoryTypeFromRawValue(name)) return exact;
    const std::string wanted = folded(name);
    std::optional<RuleCategoryType> found;
    for (auto type : kAllRuleCategoryTypes) {
        if (folded(rawValue(type)) != wanted) continue;
        if (found) return std::nullopt;
        found = type;
    }
    return found;
}

std::optional<std::string> readImportFile(const std::string& file, std::ostream& err) {
    std::error_code error;
    const fs::path path(file);
    const auto status = fs::status(path, error);
    if (error || !fs::exists(status)) {
        err << "tessaril: nothing was imported: cannot find " << file << '\n';
        return std::nullopt;
    }
    if (!fs::is_regular_file(status)) {
        err << "tessaril: nothing was imported: " << file << " is not a regular file\n";
        return std::nullopt;
    }
    const auto size = fs::file_size(path, error);
    if (!error && size > kMaxRulesImportBytes) {
        err << "tessaril: nothing was imported: " << file << " is larger than "
            << kMaxRulesImportBytes / (std::uintmax_t{1024} * 1024) << " MB, far more than a rules export\n";
        return std::nullopt;
    }
    // Bounded again here, in case the file grew since it was measured.
    auto contents = readFileContents(path, kMaxRulesImportBytes);
    if (!contents) err << "tessaril: nothing was imported: cannot read " << file << '\n';
    return contents;
}

RuleSettingsEdit::RuleSettingsEdit(UserDefaults& defaults, RulesEngine& engine, std::ostream& err)
    : defaults_(defaults), engine_(engine), err_(err) {}

ExitStatus RuleSettingsEdit::commit(std::initializer_list<std::string_view> rewrittenKeys,
                                    std::initializer_list<std::string_view> removedKeys, const Change& change,
                                    std::string_view nothingDone) {
    std::optional<std::string> refusal;
    auto body = [&](UserDefaults& store) {
        engine_.reloadPersistedState();
        // The engine does not report failed writes. Each document it rewrites therefore starts out
        // absent, so finding it afterwards proves the write landed; otherwise everything rolls back.
        for (auto key : rewrittenKeys)
            store.remove(key);
        refusal = change();
        if (refusal) return false;
        return std::ranges::all_of(rewrittenKeys, [&](auto key) { return store.objectExists(key); }) &&
               std::ranges::none_of(removedKeys, [&](auto key) { return store.objectExists(key); });
    };
    const bool kept = defaults_.transaction(body);
    if (refusal) {
        // A refusal may quote what was typed or imported.
        err_ << "tessaril: " << text::escapedForTerminal(*refusal) << '\n';
        return ExitStatus::refused;
    }
    if (!kept) {
        err_ << "tessaril: " << nothingDone << ": the preferences store could not be written\n";
        return ExitStatus::refused;
    }
    return ExitStatus::success;
}

RuleCategory* RuleSettingsEdit::category(RuleCategoryType type) const {
    for (const auto& listed : engine_.categories()) {
        if (listed->type() == type) return listed.get();
    }
    return nullptr;
}

std::vector<RuleEntry*> RuleSettingsEdit::rulesNamed(std::string_view identifier) const {
    auto withID = [this](std::string_view id) {
        std::vector<RuleEntry*> found;
        for (const auto& listed : engine_.categories()) {
            for (const auto& rule : listed->rules()) {
                if (rule->id() == id) found.push_back(rule.get());
            }
        }
        return found;
    };
    auto found = withID(identifier);
    const auto colon = identifier.find(':');
    if (!found.empty() || colon == std::string_view::npos) return found;
    const auto type = categoryNamed(identifier.substr(0, colon));
    if (!type) return found;
    return withID(std::string(rawValue(*type)) + std::string(identifier.substr(colon)));
}

ExitStatus RuleSettingsEdit::setEnabled(std::string_view identifier, bool enabled) {
    std::optional<std::string> note;
    auto status = commit({RulesEngine::enabledStateKey}, {}, [&]() -> std::optional<std::string> {
        note.reset();
        if (identifier.find(':') == std::string_view::npos) {
            // Rule identifiers always hold a colon, category names never do.
            const auto type = categoryNamed(identifier);
            RuleCategory* listed = type ? category(*type) : nullptr;
            if (listed == nullptr) return "no category \"" + std::string(identifier) + "\"; see `tessaril rules list`";
            listed->setEnabled(enabled);
        } else {
            const auto rules = rulesNamed(identifier);
            if (rules.empty()) return "no rule \"" + std::string(identifier) + "\"; see `tessaril rules list`";
            // Rules of several providers can share an identifier, and with it one stored switch.
            for (RuleEntry* rule : rules)
                rule->setEnabled(enabled);
            const RuleCategory* listed = category(rules.front()->category());
            if (enabled && listed != nullptr && !listed->isEnabled()) {
                note = "note: the category \"" + std::string(listed->id()) +
                       "\" is off, so this rule does nothing until the category is enabled";
            }
        }
        engine_.saveEnabledStates();
        return std::nullopt;
    });
    if (status == ExitStatus::success && note) err_ << "tessaril: " << *note << '\n';
    return status;
}

ExitStatus RuleSettingsEdit::addCustomRule(std::string_view parameter, std::string_view displayName,
                                           RuleCategoryType type, std::ostream& out) {
    const std::string identifier = std::string(rawValue(type)) + ":" + std::string(parameter);
    const std::string_view shownName = displayName.empty() ? parameter : displayName;
    auto status =
        commit({RulesEngine::customRulesKey, RulesEngine::enabledStateKey}, {}, [&]() -> std::optional<std::string> {
            // The engine would list a second entry under the same identifier, which no switch or
            // removal could then tell apart.
            if (!rulesNamed(identifier).empty()) return "a rule \"" + identifier + "\" already exists";
            if (auto refusal = engine_.customRuleRefusal(parameter, shownName)) return refusal;
            engine_.addCustomRule(parameter, shownName, type);
            return std::nullopt;
        });
    if (status == ExitStatus::success) out << identifier << '\n';
    return status;
}

ExitStatus RuleSettingsEdit::removeCustomRule(std::string_view identifier) {
    return commit({RulesEngine::customRulesKey}, {}, [&]() -> std::optional<std::string> {
        const auto rules = rulesNamed(identifier);
        const auto custom = std::ranges::find_if(
            rules, [](const RuleEntry* rule) { return rule->source() == RuleEntry::Source::custom; });
        if (custom == rules.end()) {
            if (rules.empty()) return "no custom rule \"" + std::string(identifier) + "\"; see `tessaril rules list`";
            return "\"" + std::string(identifier) + "\" is a " + std::string(rawValue(rules.front()->source())) +
                   " rule and cannot be removed; `tessaril rules disable` switches it off";
        }
        // A copy: the engine frees the entry before it is done with the identifier.
        const std::string id = (*custom)->id();
        engine_.removeCustomRule(id);
        return std::nullopt;
    });
}

ExitStatus RuleSettingsEdit::importRules(std::string_view data, std::string_view fileName, std::ostream& out) {
    std::size_t switched = 0;
    std::size_t added = 0;
    auto status = commit(
        {RulesEngine::enabledStateKey, RulesEngine::customRulesKey}, {},
        [&]() -> std::optional<std::string> {
            std::vector<bool> before;
            std::set<const RuleEntry*> customBefore;
            for (const auto& listed : engine_.categories()) {
                before.push_back(listed->isEnabled());
                for (const auto& rule : listed->rules()) {
                    if (rule->source() == RuleEntry::Source::custom) customBefore.insert(rule.get());
                }
            }
            if (!engine_.importRules(data)) {
                return "nothing was imported: " + std::string(fileName) + ": " +
                       engine_.importRefusal(data).value_or("it is not a rules export");
            }
            switched = added = 0;
            for (std::size_t index = 0; index < engine_.categories().size(); ++index) {
                const auto& listed = engine_.categories()[index];
                if (index < before.size() && before[index] != listed->isEnabled()) ++switched;
                for (const auto& rule : listed->rules()) {
                    if (rule->source() == RuleEntry::Source::custom && !customBefore.contains(rule.get())) ++added;
                }
            }
            return std::nullopt;
        },
        "nothing was imported");
    if (status != ExitStatus::success) return status;
    out << "Imported " << fileName << ": " << plural(added, "custom rule", "custom rules") << " added, "
        << plural(switched, "category switch", "category switches") << " changed\n";
    return status;
}

ExitStatus RuleSettingsEdit::resetToDefaults() {
    return commit({}, {RulesEngine::enabledStateKey, RulesEngine::customRulesKey}, [&]() -> std::optional<std::string> {
        engine_.resetToDefaults();
        return std::nullopt;
    });
}

ExitStatus RuleSettingsEdit::resetMatchCounts() {
    return commit({}, {RulesEngine::matchCountsKey}, [&]() -> std::optional<std::string> {
        engine_.resetMatchCounts();
        return std::nullopt;
    });
}

}  // namespace tessaril::cli
