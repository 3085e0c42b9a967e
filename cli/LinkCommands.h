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
}

namespace tessaril {
class HttpsClient;
}

namespace tessaril::cli {

// What else can be made of one link:
//
//   map [--json] URL                   the same place in the other map service
//   wayback URL                        the archive's list of saved copies of the page
//   share [--context TEXT] URL         the cleaned link and its privacy front-end link, as a message
//   report [--note TEXT] [--mailto] URL   a missed-tracker report of the link's clean, to send by hand
//   resolve [--json] URL               the post an Instagram, Threads or Reddit share link leads to
//
// Each prints its answer, or exits with ExitStatus::refused and says why on standard error when
// the link has none. `share`, `report` and `resolve` clean the link first as `clean` does, with the
// user's settings; `share` turns both privacy rewrites on for the run, since the message exists
// only for a rewritten link. Only `resolve` contacts anything: the share link's own service.
class LinkCommands {
public:
    // Registers the commands on `app`; `addRulesOption` gives the two that clean the tool's shared
    // --rules option.
    LinkCommands(CLI::App& app, const std::function<void(CLI::App*)>& addRulesOption);
    LinkCommands(const LinkCommands&) = delete;
    LinkCommands& operator=(const LinkCommands&) = delete;

    [[nodiscard]] bool parsed() const;
    // `network` is what `resolve` fetches through; without one it makes the real client.
    ExitStatus run(const std::optional<std::filesystem::path>& rulesDirectory, HttpsClient* network, std::ostream& out,
                   std::ostream& err) const;

private:
    [[nodiscard]] ExitStatus map(std::ostream& out, std::ostream& err) const;
    [[nodiscard]] ExitStatus share(const std::optional<std::filesystem::path>& rulesDirectory, std::ostream& out,
                                   std::ostream& err) const;
    [[nodiscard]] ExitStatus report(const std::optional<std::filesystem::path>& rulesDirectory, std::ostream& out,
                                    std::ostream& err) const;
    [[nodiscard]] ExitStatus resolve(const std::optional<std::filesystem::path>& rulesDirectory, HttpsClient* network,
                                     std::ostream& out, std::ostream& err) const;

    CLI::App* map_ = nullptr;
    CLI::App* wayback_ = nullptr;
    CLI::App* share_ = nullptr;
    CLI::App* report_ = nullptr;
    CLI::App* resolve_ = nullptr;
    // Only one command runs, so they share the link.
    std::string url_;
    bool json_ = false;
    std::optional<std::string> context_;
    std::string note_;
    bool mailto_ = false;
};

}  // namespace tessaril::cli
