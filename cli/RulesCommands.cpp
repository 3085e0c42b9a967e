// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RulesCommands.h"

#include <CLI/CLI.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/RuleSettingsEdit.h"
#include "cli/RulesListing.h"
#include "cli/ToolContext.h"
#include "core/cleaning/CustomRuleCheck.h"
#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/matching/LinkMatch.h"
#include "core/foundation/Text.h"

namespace tessaril::cli {

namespace {

void listCategoryNames(std::ostream& err) {
    err << "the categories are";
    const char* separator = " ";
    for (auto type : kAllRuleCategoryTypes) {
        err << separator << '"' << rawValue(type) << '"';
        separator = ", ";
    }
    err << '\n';
}

ExitStatus unknownCategory(std::string_view name, std::ostream& err) {
    err << "tessaril: unknown category \"" << name << "\"; ";
    listCategoryNames(err);
    return ExitStatus::usage;
}

ExitStatus exportRules(const RulesEngine& engine, std::ostream& out, std::ostream& err) {
    const auto document = engine.exportRules();
    if (!document) {
        err << "tessaril: the rule settings could not be encoded\n";
        return ExitStatus::rulesUnreadable;
    }
    out << *document << '\n';
    return ExitStatus::success;
}

// The built-in or custom rule with this identifier (rules of providers may share one).
const RuleEntry* ownRule(const RulesEngine& engine, std::string_view id) {
    for (const auto& category : engine.categories()) {
        for (const auto& rule : category->rules()) {
            if (rule->id() == id && rule->source() != RuleEntry::Source::clearURLs) return rule.get();
        }
    }
    return nullptr;
}

bool acts(const LinkMatch::ProviderAccount& account) {
    return account.excepted || account.redirectTarget || account.pathRulesCut || !account.parameters.empty();
}

// Every provider whose pattern matches the link is asked; most of them find nothing to do, so
// unless `all` is set only those that do something are listed.
void printExplanation(const RulesEngine& engine, LinkMatch& link, const RuleSelection& selection, bool all,
                      std::ostream& out) {
    const LinkMatch::Explanation explanation = link.explain();
    // Names, targets and rule texts come from the link and the rule files: what they hold is shown,
    // never acted on by the terminal.
    const auto shown = [](std::string_view text) { return text::escapedForTerminal(text); };
    std::vector<const LinkMatch::ProviderAccount*> listed;
    std::size_t acting = 0;
    for (const auto& account : explanation.providers) {
        if (!selection.includes(account.provider->category, account.provider->listedSource)) continue;
        acting += acts(account) ? 1 : 0;
        if (all || acts(account)) listed.push_back(&account);
    }
    out << "providers: " << explanation.providers.size() << " apply";
    if (selection.category || selection.source) out << ", " << listed.size() << " selected";
    if (!all) out << ", " << acting << " act on the link (--all lists every one)";
    out << '\n';
    for (const auto* account : listed) {
        out << "  " << shown(account->provider->name) << " (" << rawValue(account->provider->category) << ", "
            << shown(account->provider->listedSource) << ")";
        if (account->excepted) out << ": exception, not applied";
        out << '\n';
        if (account->redirectTarget) out << "    redirect to " << shown(*account->redirectTarget) << '\n';
        if (account->pathRulesCut) out << "    path rules cut part of the link\n";
        for (const auto& [name, rule] : account->parameters)
            out << "    " << shown(name) << ": " << shown(rule) << '\n';
    }
    out << "built-in and custom rules:\n";
    for (const auto& [name, ruleId] : explanation.builtInRules) {
        const RuleEntry* rule = ownRule(engine, ruleId);
        if (rule == nullptr || selection.includes(rule->category(), rule->origin()))
            out << "  " << shown(name) << ": " << shown(ruleId) << '\n';
    }
}

// A link the path rules cut is cleaned as the link they leave, whose providers may differ: each
// round of cuts gets its own account, as the cleaner goes.
ExitStatus explainRules(const RulesEngine& engine, std::string_view url, const RuleSelection& selection, bool all,
                        std::ostream& out) {
    LinkMatch link;
    engine.matcher().match(url, link);
    printExplanation(engine, link, selection, all, out);
    // A wrapper is cleaned through its target, never cut.
    if (link.redirect()) return ExitStatus::success;
    for (int round = 0; round < URLCleaner::maximumPathRounds; ++round) {
        bool cut = false;
        while (link.nextPathRewrite() != nullptr)
            cut = true;
        if (!cut) break;
        link.matchRewritten();
        out << "\nafter the path rules, " << text::escapedForTerminal(link.text()) << ":\n";
        printExplanation(engine, link, selection, all, out);
    }
    return ExitStatus::success;
}

ExitStatus showStatus(const RulesUpdater& updater, std::ostream& out) {
    // Versions come from files on disk: shown, never acted on by the terminal.
    const auto shown = [](const std::optional<std::string>& text) {
        return text ? text::escapedForTerminal(*text) : std::string("unknown");
    };
    out << "rules in use: " << description(updater.loadedSource()) << '\n';
    out << "rules version: " << shown(updater.installedVersion()) << '\n';
    out << "Command Guard version: " << shown(updater.installedCommandGuardVersion()) << '\n';
    return ExitStatus::success;
}

}  // namespace

RulesCommands::RulesCommands(CLI::App& app, const std::function<void(CLI::App*)>& addRulesOption) {
    rules_ =
        app.add_subcommand("rules", "List, switch, add and remove URL rules; export, import and reset your settings");
    rules_->require_subcommand(1);

    list_ = rules_->add_subcommand("list", "Show the categories and their rules with switches and match counts");
    listCategory_ =
        list_->add_option("--category", category_, "Only this category, such as Analytics or \"Social Media\"")
            ->type_name("NAME");
    list_->add_option("--source", source_, "Only rules taken from this list, as the source column names it")
        ->type_name("NAME");
    list_->add_flag("--json", json_, "Print one JSON document instead of a table");
    addRulesOption(list_);

    export_ = rules_->add_subcommand("export", "Print your rule settings as JSON, for `rules import` elsewhere");
    addRulesOption(export_);
    import_ = rules_->add_subcommand("import", "Take category switches and custom rules from a `rules export` file");
    import_->add_option("FILE", file_, "The exported JSON file")->required();

    explain_ = rules_->add_subcommand("explain", "Show which rules apply to a link");
    explain_->add_option("URL", url_, "The link to look at")->required();
    explainCategory_ =
        explain_->add_option("--category", category_, "Only providers and rules of this category")->type_name("NAME");
    explain_->add_option("--source", source_, "Only providers and rules taken from this list")->type_name("NAME");
    explain_->add_flag("--all", all_, "Also list the providers that find nothing to do on the link");
    addRulesOption(explain_);

    enable_ = rules_->add_subcommand("enable", "Switch a category or a rule on");
    enable_->add_option("ID", identifier_, "A category name, or a rule identifier from `rules list`")->required();
    disable_ = rules_->add_subcommand("disable", "Switch a category or a rule off");
    disable_->add_option("ID", identifier_, "A category name, or a rule identifier from `rules list`")->required();

    add_ = rules_->add_subcommand("add", "Remove a query parameter everywhere; prints the new rule's identifier");
    add_->add_option("PARAM", parameter_, "The exact parameter name (any letter case; no patterns)")->required();
    add_->add_option("--name", displayName_, "The name shown in the rules list (default: PARAM)")->type_name("TEXT");
    addCategory_ =
        add_->add_option("--category", category_, "The category to list it under (default: Custom)")->type_name("NAME");
    remove_ = rules_->add_subcommand("remove", "Remove a custom rule");
    remove_->add_option("ID", identifier_, "The custom rule's identifier, such as Custom:ref_src")->required();

    reset_ = rules_->add_subcommand("reset", "Switch every category and rule back on and remove your custom rules");
    resetCounts_ = rules_->add_subcommand("reset-counts", "Set every match count to zero");
    status_ = rules_->add_subcommand("status", "Show where the rules in use come from and their versions");
}

bool RulesCommands::parsed() const {
    return rules_->parsed();
}

ExitStatus RulesCommands::run(const std::optional<std::filesystem::path>& rulesDirectory, std::ostream& out,
                              std::ostream& err) const {
    if (!list_->parsed() && !export_->parsed() && !explain_->parsed() && !status_->parsed()) return runEdit(out, err);

    RuleSelection selection{std::nullopt, source_};
    if ((list_->parsed() && listCategory_->count() > 0) || (explain_->parsed() && explainCategory_->count() > 0)) {
        selection.category = categoryNamed(category_);
        if (!selection.category) return unknownCategory(category_, err);
    }
    // Looking never writes: not even a missing preferences file gets created.
    ToolContext context(err, ToolContext::StoreAccess::readOnly);
    if (status_->parsed()) {
        if (!context.loadRules(std::nullopt)) return ExitStatus::rulesUnreadable;
        return showStatus(context.updater(), out);
    }
    if (!context.loadRules(rulesDirectory)) return ExitStatus::rulesUnreadable;
    if (list_->parsed()) return listRules(context.engine(), selection, json_, out, err);
    if (export_->parsed()) return exportRules(context.engine(), out, err);
    if (selection.source && !knownSource(context.engine(), *selection.source, err)) return ExitStatus::usage;
    return explainRules(context.engine(), url_, selection, all_, out);
}

ExitStatus RulesCommands::runEdit(std::ostream& out, std::ostream& err) const {
    // Everything that can be checked without the store is checked first, so a mistyped command
    // neither creates the preferences file nor waits for it.
    RuleCategoryType addTo = RuleCategoryType::custom;
    std::optional<std::string> imported;
    if (add_->parsed()) {
        if (auto problem = customRuleProblem(parameter_, displayName_.empty() ? parameter_ : displayName_)) {
            err << "tessaril: " << *problem << '\n';
            return ExitStatus::usage;
        }
        if (addCategory_->count() > 0) {
            auto type = categoryNamed(category_);
            if (!type) return unknownCategory(category_, err);
            addTo = *type;
        }
    }
    if (import_->parsed()) {
        imported = readImportFile(file_, err);
        if (!imported) return ExitStatus::refused;
    }

    ToolContext context(err);
    // Edits always apply to the installed rules, the same tree the tray application shows.
    if (!context.loadRules(std::nullopt)) return ExitStatus::rulesUnreadable;
    RuleSettingsEdit edit(context.defaults(), context.engine(), err);
    if (enable_->parsed() || disable_->parsed()) return edit.setEnabled(identifier_, enable_->parsed());
    if (add_->parsed()) return edit.addCustomRule(parameter_, displayName_, addTo, out);
    if (remove_->parsed()) return edit.removeCustomRule(identifier_);
    if (import_->parsed()) return edit.importRules(*imported, file_, out);
    if (reset_->parsed()) return edit.resetToDefaults();
    return edit.resetMatchCounts();
}

}  // namespace tessaril::cli
