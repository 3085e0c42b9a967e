// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StoreCommands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <variant>

#include "cli/ToolContext.h"
#include "core/foundation/Text.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"

namespace tessaril::cli {

namespace {

// Why an edit was refused, as the user reads it; nothing when it was made.
using Refusal = std::optional<std::string>;

ExitStatus refuse(std::string_view why, std::ostream& err) {
    err << why << '\n';
    return ExitStatus::refused;
}

// Runs one edit of a list as one transaction of the store, the list read inside it: what the edit
// finds is what it changes, with nothing another process does in between. (The lists' own
// conflict check guards a copy the user has been looking at, which a run of the tool has none of.)
// `unsaved` is said when the store cannot keep the change.
ExitStatus runEdit(UserDefaults& defaults, std::string_view unsaved, std::ostream& err,
                   const std::function<Refusal(UserDefaults&)>& edit) {
    Refusal refusal;
    const bool saved = defaults.transaction([&](UserDefaults& store) {
        refusal = edit(store);
        return !refusal;
    });
    if (refusal) return refuse(*refusal, err);
    if (!saved) return refuse(unsaved, err);
    return ExitStatus::success;
}

}  // namespace

StoreCommands::StoreCommands(CLI::App& app) {
    blocklist_ = app.add_subcommand("blocklist", "List and edit your own blocked query parameters");
    blocklist_->require_subcommand(1);
    blocklistList_ = blocklist_->add_subcommand(
        "list", "Print one rule per line as SITE:PARAMETER (\"*\" for every site), oldest first");
    blocklistAdd_ = blocklist_->add_subcommand("add", "Block a parameter on every site, or on one site");
    blocklistAdd_->add_option("PARAM", parameter_, "The exact parameter name")->required();
    addSite_ = blocklistAdd_->add_option("--site", site_, "Only on this exact host name")->type_name("HOST");
    blocklistRemove_ = blocklist_->add_subcommand("remove", "Remove a rule (a global one without --site)");
    blocklistRemove_->add_option("PARAM", parameter_, "The exact parameter name")->required();
    removeSite_ = blocklistRemove_->add_option("--site", site_, "The rule's host name")->type_name("HOST");
    blocklistUndo_ = blocklist_->add_subcommand("undo", "Undo the last add or remove (one step)");

    exceptions_ = app.add_subcommand("exceptions", "List and edit the sites where links are left alone");
    exceptions_->require_subcommand(1);
    exceptionsList_ = exceptions_->add_subcommand("list", "Print one host per line, oldest first");
    exceptionsAdd_ = exceptions_->add_subcommand("add", "Leave links to a host alone (a link's host works too)");
    exceptionsAdd_->add_option("HOST", host_, "A host name, or an http(s) link")->required();
    exceptionsRemove_ = exceptions_->add_subcommand("remove", "Clean links to a host again");
    exceptionsRemove_->add_option("HOST", host_, "A host name, or an http(s) link")->required();
}

bool StoreCommands::parsed() const {
    return blocklist_->parsed() || exceptions_->parsed();
}

ExitStatus StoreCommands::run(std::ostream& out, std::ostream& err) const {
    if (blocklist_->parsed()) return runBlocklist(out, err);
    return runExceptions(out, err);
}

ExitStatus StoreCommands::runBlocklist(std::ostream& out, std::ostream& err) const {
    if (blocklistList_->parsed()) {
        ToolContext context(err, ToolContext::StoreAccess::readOnly);
        for (const auto& rule : CustomBlocklistStore(context.defaults()).rules())
            out << rule.id() << '\n';
        return ExitStatus::success;
    }
    std::optional<CustomBlockRule> rule;
    if (!blocklistUndo_->parsed()) {
        // Checked before the store is opened; removal goes by the same checks as adding, so a typed
        // site finds its lower-case rule.
        std::optional<std::string_view> site;
        if ((blocklistAdd_->parsed() ? addSite_ : removeSite_)->count() > 0) site = site_;
        auto built = CustomBlockRule::validated(parameter_, site);
        if (const auto* error = std::get_if<CustomBlockError>(&built)) return refuse(description(*error), err);
        rule = std::get<CustomBlockRule>(std::move(built));
    }
    ToolContext context(err);
    return runEdit(context.defaults(), description(CustomBlockError::storeFailed), err,
                   [&](UserDefaults& store) -> Refusal {
                       CustomBlocklistStore blocklist(store);
                       std::optional<CustomBlockError> error;
                       if (!rule) {
                           error = blocklist.undo();
                       } else if (blocklistAdd_->parsed()) {
                           error = blocklist.add(rule->parameter, rule->site);
                       } else {
                           const auto rules = blocklist.rules();
                           if (std::ranges::find(rules, *rule) == rules.end())
                               return "tessaril: the blocklist has no rule " + rule->id();
                           error = blocklist.remove(*rule);
                       }
                       if (error) return std::string(description(*error));
                       return std::nullopt;
                   });
}

ExitStatus StoreCommands::runExceptions(std::ostream& out, std::ostream& err) const {
    if (exceptionsList_->parsed()) {
        ToolContext context(err, ToolContext::StoreAccess::readOnly);
        for (const auto& exception : DomainExceptionStore(context.defaults()).disabledDomains())
            out << exception.host << '\n';
        return ExitStatus::success;
    }
    if (text::trim(host_).empty()) {
        err << "tessaril: the host is empty\n";
        return ExitStatus::usage;
    }
    // A pasted link stands for its host, as "Disable Cleaning for This Site" does it.
    auto host = DomainExceptionStore::normalizedHost(host_);
    if (!host) host = DomainExceptionStore::normalize(host_);
    if (!host) return refuse(description(DomainExceptionError::invalidHost), err);

    const bool adding = exceptionsAdd_->parsed();
    ToolContext context(err);
    return runEdit(context.defaults(), description(DomainExceptionError::storeFailed), err,
                   [&](UserDefaults& store) -> Refusal {
                       DomainExceptionStore exceptions(store);
                       if (!adding && !exceptions.isDisabled(*host))
                           return "tessaril: " + *host + " is not a site exception";
                       if (auto error = adding ? exceptions.disable(*host) : exceptions.enable(*host)) {
                           return std::string(description(*error));
                       }
                       return std::nullopt;
                   });
}

}  // namespace tessaril::cli
