// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string>

#include "cli/ExitStatus.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tessaril::cli {

// `tessaril blocklist list|add PARAM [--site HOST]|remove PARAM [--site HOST]|undo` and
// `tessaril exceptions list|add HOST|remove HOST`: the user's parameter blocklist and site
// exceptions, edited in the same preferences the tray application reads.
//
// `blocklist list` prints one rule per line as SITE:PARAMETER, with "*" as the site of a rule for
// every site, in the order the rules were added. `exceptions list` prints one host per line, in the
// order they were added; listing never writes (nor creates) the preferences file. Edits print
// nothing on success. A refused edit (an invalid name or host, a rule or site to remove that is not
// listed, a store that cannot be written) says why on standard error and exits with
// ExitStatus::refused; an edit is only ever reported done once it is saved.
class StoreCommands {
public:
    // Registers both commands and their subcommands on `app`; keep this object alive while parsing.
    explicit StoreCommands(CLI::App& app);
    StoreCommands(const StoreCommands&) = delete;
    StoreCommands& operator=(const StoreCommands&) = delete;

    // True when the parsed command line named one of these commands.
    [[nodiscard]] bool parsed() const;
    ExitStatus run(std::ostream& out, std::ostream& err) const;

private:
    ExitStatus runBlocklist(std::ostream& out, std::ostream& err) const;
    ExitStatus runExceptions(std::ostream& out, std::ostream& err) const;

    CLI::App* blocklist_ = nullptr;
    CLI::App* blocklistList_ = nullptr;
    CLI::App* blocklistAdd_ = nullptr;
    CLI::App* blocklistRemove_ = nullptr;
    CLI::App* blocklistUndo_ = nullptr;
    CLI::Option* addSite_ = nullptr;
    CLI::Option* removeSite_ = nullptr;
    std::string parameter_;
    std::string site_;

    CLI::App* exceptions_ = nullptr;
    CLI::App* exceptionsList_ = nullptr;
    CLI::App* exceptionsAdd_ = nullptr;
    CLI::App* exceptionsRemove_ = nullptr;
    std::string host_;
};

}  // namespace tessaril::cli
