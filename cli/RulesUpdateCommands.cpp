// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RulesUpdateCommands.h"

#include <CLI/CLI.hpp>
#include <optional>
#include <ostream>
#include <variant>

#include "cli/MainLoop.h"
#include "cli/ToolContext.h"
#include "core/foundation/Text.h"
#include "core/updates/RuleUpdateChannel.h"
#include "core/updates/StaticUpdateSession.h"
#include "platform/http/CurlHttpsClient.h"

namespace tessaril::cli {

namespace {

// The status line as the preferences window shows it; a failure goes to the error stream. What the
// origin sent (versions) is shown, never acted on by the terminal.
ExitStatus report(const RulesUpdateStatus& status, std::ostream& out, std::ostream& err) {
    const std::string text = text::escapedForTerminal(status.displayText().value_or(""));
    if (std::holds_alternative<RulesUpdateStatus::Failed>(status.state())) {
        err << "tessaril: " << text << '\n';
        return ExitStatus::updateFailed;
    }
    out << text << '\n';
    if (std::holds_alternative<RulesUpdateStatus::UpdateAvailable>(status.state())) return ExitStatus::updateAvailable;
    return ExitStatus::success;
}

}  // namespace

RulesUpdateCommands::RulesUpdateCommands(CLI::App& rules) {
    const auto addChannel = [this](CLI::App* command) {
        command->add_option("--channel", channelName_, "Ask this channel instead of the one set with `rules channel`")
            ->type_name("stable|beta")
            ->check(CLI::IsMember({"stable", "beta"}));
    };
    check_ = rules.add_subcommand("check", "Ask the update origin for newer rules (exit 1 when there are)");
    addChannel(check_);
    update_ = rules.add_subcommand("update", "Download, verify and install newer rules when there are any");
    addChannel(update_);
    channel_ = rules.add_subcommand("channel", "Show or set the rules update channel");
    channel_->add_option("CHANNEL", channelName_, "stable or beta")->check(CLI::IsMember({"stable", "beta"}));
}

bool RulesUpdateCommands::parsed() const {
    return check_->parsed() || update_->parsed() || channel_->parsed();
}

ExitStatus RulesUpdateCommands::run(HttpsClient* network, const RuleSigningKey& manifestKey, std::ostream& out,
                                    std::ostream& err) const {
    ToolContext context(err);
    const auto channel = ruleUpdateChannel(channelName_);
    if (channel_->parsed()) {
        if (!context.loadRules(std::nullopt)) return ExitStatus::rulesUnreadable;
        RulesUpdater& updater = context.updater();
        if (channel) {
            return context.commit([&updater, channel](UserDefaults& defaults) {
                updater.setSelectedChannel(*channel);
                return defaults.stringValue(RulesUpdater::selectedChannelKey) == rawValue(*channel);
            });
        }
        out << rawValue(updater.selectedChannel()) << '\n';
        return ExitStatus::success;
    }

    // The loop comes after the client, so its workers are joined before the client is gone.
    std::optional<CurlHttpsClient> ownNetwork;
    const StaticUpdateSession session(network ? *network : ownNetwork.emplace());
    MainLoop loop;
    ToolContext::UpdateNetwork updates{&session, &loop, std::nullopt, manifestKey};
    if (channel) updates.manifestURL = manifestURL(*channel);
    if (!context.loadRules(std::nullopt, updates)) return ExitStatus::updateFailed;
    RulesUpdater& updater = context.updater();
    const auto settled = [&updater] { return !updater.updateStatus().isBusy(); };

    updater.checkForUpdates(false);
    loop.runUntil(settled);
    if (update_->parsed() && updater.availableManifest()) {
        updater.installAvailableUpdate(false);
        loop.runUntil(settled);
    }
    return report(updater.updateStatus(), out, err);
}

}  // namespace tessaril::cli
