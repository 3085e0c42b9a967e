// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string>

#include "cli/ExitStatus.h"
#include "core/updates/RuleManifestSignature.h"

namespace CLI {
class App;
}  // namespace CLI

namespace tessaril {
class HttpsClient;
}  // namespace tessaril

namespace tessaril::cli {

// `tessaril rules ...` for rule updates from the static update origin, through the same updater,
// checks and installed bundles as the tray application:
//
//   check [--channel stable|beta]    is there a newer rules release? exit 0 no, 1 yes, 3 failed
//   update [--channel stable|beta]   check, and install what is found; exit 0 or 3
//   channel [stable|beta]            show or set the channel the updater follows
//
// --channel asks that channel for this run only; `channel` changes the stored one. Installed rules
// are used at once by every later run of the tool, which loads the installed bundle first.
class RulesUpdateCommands {
public:
    // Registers the commands on the `rules` command.
    explicit RulesUpdateCommands(CLI::App& rules);
    RulesUpdateCommands(const RulesUpdateCommands&) = delete;
    RulesUpdateCommands& operator=(const RulesUpdateCommands&) = delete;

    [[nodiscard]] bool parsed() const;
    // `network` is the HTTPS client to use, the real one when absent; manifests must be signed with `manifestKey`.
    ExitStatus run(HttpsClient* network, const RuleSigningKey& manifestKey, std::ostream& out, std::ostream& err) const;

private:
    CLI::App* check_ = nullptr;
    CLI::App* update_ = nullptr;
    CLI::App* channel_ = nullptr;
    std::string channelName_;
};

}  // namespace tessaril::cli
