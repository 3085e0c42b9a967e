// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "cli/AppUpdateCommand.h"
#include "cli/CleanCommand.h"
#include "cli/ExitStatus.h"
#include "cli/GuardCommands.h"
#include "cli/LinkCommands.h"
#include "cli/PrefsCommands.h"
#include "cli/RulesCommands.h"
#include "cli/RulesUpdateCommands.h"
#include "cli/StatsCommand.h"
#include "cli/StoreCommands.h"
#include "cli/WatchCommand.h"

namespace tessaril::cli {

namespace {

ExitStatus dispatch(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err,
                    HttpsClient* network, const RuleSigningKey& rulesManifestKey) {
    CLI::App app{"Removes tracking parameters, redirect wrappers and tracking path segments from links.", "tessaril"};
    app.set_version_flag("--version", std::string("tessaril ") + TESSARIL_VERSION);
    app.require_subcommand(1);

    std::optional<std::filesystem::path> rulesDirectory;
    auto addRulesOption = [&rulesDirectory](CLI::App* command) {
        command
            ->add_option("--rules", rulesDirectory,
                         "Load DIR/data.min.json and DIR/tessaril-supplementary.json instead of the installed rules")
            ->type_name("DIR");
    };

    CleanOptions cleanOptions;
    auto* cleanCommand = addCleanCommand(app, cleanOptions);
    addRulesOption(cleanCommand);

    const RulesCommands rulesCommands(app, addRulesOption);
    const RulesUpdateCommands ruleUpdates(*rulesCommands.app());
    const AppUpdateCommand appUpdate(app);
    const StoreCommands stores(app);
    const GuardCommands guardCommands(app);
    const LinkCommands linkCommands(app, addRulesOption);
    const StatsCommand statsCommand(app);
    const PrefsCommands prefsCommands(app);
    const WatchCommand watchCommand(app);
    addRulesOption(app.get_subcommand("watch"));

    const auto expanded = withDefaultCommand(app, arguments);
    std::vector<std::string> reversed(expanded.rbegin(), expanded.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::Success& done) {
        app.exit(done, out, err);
        return ExitStatus::success;
    } catch (const CLI::ParseError& error) {
        app.exit(error, out, err);
        return ExitStatus::usage;
    }

    // Command Guard needs neither the URL rules nor the user's stored settings.
    if (guardCommands.parsed()) return guardCommands.run(in, out, err);
    if (cleanCommand->parsed()) return runClean(cleanOptions, rulesDirectory, in, out, err);
    if (appUpdate.parsed()) return AppUpdateCommand::run(network, out, err);
    if (ruleUpdates.parsed()) return ruleUpdates.run(network, rulesManifestKey, out, err);
    if (rulesCommands.parsed()) return rulesCommands.run(rulesDirectory, out, err);
    if (stores.parsed()) return stores.run(out, err);
    if (linkCommands.parsed()) return linkCommands.run(rulesDirectory, network, out, err);
    if (statsCommand.parsed()) return statsCommand.run(out, err);
    if (prefsCommands.parsed()) return prefsCommands.run(out, err);
    if (watchCommand.parsed()) return watchCommand.run(rulesDirectory, network, in, out, err);
    return ExitStatus::usage;
}

int finish(ExitStatus status, std::ostream& out, std::ostream& err) {
    // Every command's output ends here, so none can report success (or a verdict a script acts
    // on) for output that never arrived: a full disk, a closed pipe with SIGPIPE ignored.
    if (out.flush()) return static_cast<int>(status);
    err << "tessaril: the output could not be written\n";
    return static_cast<int>(ExitStatus::outputFailed);
}

}  // namespace

int run(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err) {
    return finish(dispatch(arguments, in, out, err, nullptr, RuleManifestSignature::releaseKey), out, err);
}

int run(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err,
        HttpsClient& network, const RuleSigningKey& rulesManifestKey) {
    return finish(dispatch(arguments, in, out, err, &network, rulesManifestKey), out, err);
}

}  // namespace tessaril::cli
