// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/AppUpdateCommand.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <variant>

#include "cli/MainLoop.h"
#include "core/foundation/Text.h"
#include "core/updates/DesktopUpdateChecker.h"
#include "platform/http/CurlHttpsClient.h"

namespace tessaril::cli {

AppUpdateCommand::AppUpdateCommand(CLI::App& app) {
    CLI::App* appUpdate = app.add_subcommand("app-update", "Look for a newer release of Tessaril");
    appUpdate->require_subcommand(1);
    check_ = appUpdate->add_subcommand("check", "Say whether a newer release is published (exit 1 when it is)");
}

bool AppUpdateCommand::parsed() const {
    return check_->parsed();
}

ExitStatus AppUpdateCommand::run(HttpsClient* network, std::ostream& out, std::ostream& err) {
    // The loop comes after the client, so its workers are joined before the client is gone.
    std::optional<CurlHttpsClient> ownNetwork;
    const StaticUpdateSession session(network ? *network : ownNetwork.emplace());
    MainLoop loop;
    DesktopUpdateChecker checker(session, loop);
    bool done = false;
    // This build carries no build number of its own, so a release of the same version is not newer.
    checker.check(TESSARIL_VERSION, 0, [&done](const DesktopUpdateStatus&) { done = true; });
    loop.runUntil([&done] { return done; });

    const DesktopUpdateStatus::State& state = checker.status().state();
    const std::string text = text::escapedForTerminal(checker.status().displayText().value_or(""));
    if (std::holds_alternative<DesktopUpdateStatus::Failed>(state)) {
        err << "tessaril: " << text << '\n';
        return ExitStatus::updateFailed;
    }
    out << text << '\n';
    return std::holds_alternative<DesktopUpdateStatus::Available>(state) ? ExitStatus::updateAvailable
                                                                         : ExitStatus::success;
}

}  // namespace tessaril::cli
