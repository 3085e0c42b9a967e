// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/StoreCommands.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <string_view>
#include <variant>

#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"

namespace tessaril::cli {

namespace {

ExitStatus report(std::optional<CustomBlockError> error, std::ostream& err) {
    if (!error) return ExitStatus::success;
    err << description(*error) << '\n';
    return ExitStatus::refused;
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

ExitStatus StoreCommands::run(UserDefaults& defaults, std::ostream& out, std::ostream& err) const {
    if (blocklist_->parsed()) return runBlocklist(defaults, out, err);
    return runExceptions(defaults, out, err);
}

ExitStatus StoreCommands::runBlocklist(UserDefaults& defaults, std::ostream& out, std::ostream& err) const {
    CustomBlocklistStore store(defaults);
    if (blocklistList_->parsed()) {
        for (const auto& rule : store.rules())
            out << rule.id() << '\n';
        return ExitStatus::success;
    }
    if (blocklistUndo_->parsed()) return report(store.undo(), err);

    const bool adding = blocklistAdd_->parsed();
    std::optional<std::string_view> site;
    if ((adding ? addSite_ : removeSite_)->count() > 0) site = site_;
    if (adding) return report(store.add(parameter_, site), err);

    // Removal goes by the same checks as adding, so a typed site finds its lower-case rule.
    auto rule = CustomBlockRule::validated(parameter_, site);
    if (const auto* error = std::get_if<CustomBlockError>(&rule)) return report(*error, err);
    return report(store.remove(std::get<CustomBlockRule>(rule)), err);
}

ExitStatus StoreCommands::runExceptions(UserDefaults& defaults, std::ostream& out, std::ostream& err) const {
    DomainExceptionStore store(defaults);
    if (exceptionsList_->parsed()) {
        for (const auto& exception : store.disabledDomains())
            out << exception.host << '\n';
        return ExitStatus::success;
    }
    // A pasted link stands for its host, as "Disable Cleaning for This Site" does it.
    const std::string host =
        DomainExceptionStore::normalizedHost(host_).value_or(DomainExceptionStore::normalize(host_));
    if (host.empty()) {
        err << "tessaril: the host is empty\n";
        return ExitStatus::usage;
    }
    const bool adding = exceptionsAdd_->parsed();
    if (adding) {
        store.disable(host);
    } else {
        store.enable(host);
    }
    // The store keeps an edit it could not save for the rest of the run, which for the tool is
    // over now: only the stored list tells whether the change will still be there next time.
    if (DomainExceptionStore(defaults).isDisabled(host) != adding) {
        err << "tessaril: the site exceptions could not be saved\n";
        return ExitStatus::refused;
    }
    return ExitStatus::success;
}

}  // namespace tessaril::cli
