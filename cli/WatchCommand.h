// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>

#include "cli/ExitStatus.h"

namespace CLI {
class App;
}  // namespace CLI

namespace tessaril {
class HttpsClient;
}  // namespace tessaril

namespace tessaril::cli {

// `tessaril watch [--rules DIR] [--json]`: the tray application's clipboard loop in a terminal, with
// standard input standing in for the clipboard. Each input line is a copy by another program; each
// text the loop writes back (a cleaned link, a neutralized command) is printed, and a warning goes to
// standard error. With `--json`, one object a line says what happened instead: "cleaned" (with the
// result), "warned" and "neutralized" (with the verdict), "pendingShareLink" (with the link) and
// "skippedSite" (with the host). The user's rules and settings are read as the tray application
// reads them; what the loop counts and remembers stays in memory. End of input ends the command.
class WatchCommand {
public:
    // Registers the command on `app`; keep this object alive while parsing.
    explicit WatchCommand(CLI::App& app);
    WatchCommand(const WatchCommand&) = delete;
    WatchCommand& operator=(const WatchCommand&) = delete;

    [[nodiscard]] bool parsed() const;
    // Share links are resolved through `network` when the user turned automatic resolution on;
    // without one, through the real network.
    ExitStatus run(const std::optional<std::filesystem::path>& rulesDirectory, HttpsClient* network, std::istream& in,
                   std::ostream& out, std::ostream& err) const;

private:
    CLI::App* command_ = nullptr;
    bool json_ = false;
};

}  // namespace tessaril::cli
