// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "cli/ExitStatus.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tessaril::cli {

// `tessaril rules ...`: the URL rules and the user's settings for them (switches, custom rules,
// match counts), read and changed in the same preferences the tray application uses, through the
// same engine operations as its rules pane.
//
//   list [--category NAME] [--source NAME] [--json]   categories and rules with switches and
//                                     match counts, all or those of a category or rule list
//   export                            the settings document, for `import` elsewhere
//   import FILE                       category switches and custom rules from an export
//   explain URL [--category NAME] [--source NAME] [--all]   which rules act on a link
//   enable ID | disable ID            a category (by name) or a rule (by identifier)
//   add PARAM [--name TEXT] [--category NAME]   a custom rule; prints its identifier
//   remove ID                         a custom rule
//   reset | reset-counts              switches and custom rules back to defaults; counts to zero
//   status                            where the rules in use come from, and their versions
//
// A refused change (unknown identifier, shipped rule, bad import file, a store that cannot be
// written) says why on standard error, changes nothing and exits with ExitStatus::refused.
class RulesCommands {
public:
    // Registers the commands on `app`; `addRulesOption` gives the read-only ones the tool's shared
    // --rules option. The changing commands always work on the installed rules, because saving
    // switches against another rule set would drop the switches of rules it lacks.
    RulesCommands(CLI::App& app, const std::function<void(CLI::App*)>& addRulesOption);
    RulesCommands(const RulesCommands&) = delete;
    RulesCommands& operator=(const RulesCommands&) = delete;

    [[nodiscard]] bool parsed() const;
    // The `rules` command, for the commands registered elsewhere.
    [[nodiscard]] CLI::App* app() const { return rules_; }
    ExitStatus run(const std::optional<std::filesystem::path>& rulesDirectory, std::ostream& out,
                   std::ostream& err) const;

private:
    [[nodiscard]] ExitStatus runEdit(std::ostream& out, std::ostream& err) const;

    CLI::App* rules_ = nullptr;
    CLI::App* list_ = nullptr;
    CLI::App* export_ = nullptr;
    CLI::App* import_ = nullptr;
    CLI::App* explain_ = nullptr;
    CLI::App* enable_ = nullptr;
    CLI::App* disable_ = nullptr;
    CLI::App* add_ = nullptr;
    CLI::App* remove_ = nullptr;
    CLI::App* reset_ = nullptr;
    CLI::App* resetCounts_ = nullptr;
    CLI::App* status_ = nullptr;

    std::string category_;
    CLI::Option* listCategory_ = nullptr;
    CLI::Option* explainCategory_ = nullptr;
    std::optional<std::string> source_;
    bool all_ = false;
    CLI::Option* addCategory_ = nullptr;
    bool json_ = false;
    std::string identifier_;
    std::string parameter_;
    std::string displayName_;
    std::string url_;
    std::string file_;
};

}  // namespace tessaril::cli
