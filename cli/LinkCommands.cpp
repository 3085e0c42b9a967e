// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/LinkCommands.h"

#include <sys/utsname.h>
#include <CLI/CLI.hpp>

#include <chrono>
#include <ostream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/ToolContext.h"
#include "core/cleaning/CleanOutcome.h"
#include "core/conversions/DualLinkShareBuilder.h"
#include "core/conversions/MapLinkTransformer.h"
#include "core/foundation/Text.h"
#include "core/report/MissedTrackerReportBuilder.h"
#include "core/transform/WaybackLinkBuilder.h"

namespace tessaril::cli {

namespace {

ExitStatus refuse(std::ostream& err, std::string_view message) {
    err << "tessaril: " << text::escapedForTerminal(message) << '\n';
    return ExitStatus::refused;
}

// The facts a report gives about this program: the system it runs on, its version, and that the
// user handed it the link.
MissedTrackerReportBuilder::Installation installation(const RulesEngine& engine) {
    MissedTrackerReportBuilder::Installation facts;
#ifdef __APPLE__
    facts.platform = MissedTrackerReport::Platform::macOS;
#else
    facts.platform = MissedTrackerReport::Platform::linuxOS;
#endif
    utsname system{};
    if (uname(&system) == 0) facts.osVersion = system.release;
    facts.appVersion = TESSARIL_VERSION;
    facts.surface = MissedTrackerReport::Surface::manualClean;
    facts.rulesProviderCount = static_cast<std::int64_t>(engine.compiledProviders().size());
    return facts;
}

}  // namespace

LinkCommands::LinkCommands(CLI::App& app, const std::function<void(CLI::App*)>& addRulesOption) {
    map_ = app.add_subcommand("map", "Print the same place as a link of the other map service (Apple or Google)");
    map_->add_flag("--json", json_, "Print {\"target\", \"url\", \"operation\"} instead of the link");
    map_->add_option("URL", url_, "An https Apple Maps or Google Maps link")->required();

    wayback_ = app.add_subcommand("wayback", "Print the Wayback Machine link listing the saved copies of a page");
    wayback_->add_option("URL", url_, "An http(s) link")->required();

    share_ = app.add_subcommand("share", "Print a cleaned X or Reddit link together with its privacy front-end link");
    share_->add_option("--context", context_, "A line to add under the link (not for a Reddit post: its title is used)")
        ->type_name("TEXT");
    share_->add_option("URL", url_, "The link to share")->required();
    addRulesOption(share_);

    report_ = app.add_subcommand("report", "Print a missed-tracker report of a link's clean, to send by hand");
    report_->add_option("--note", note_, "What should have been removed (up to 500 characters)")->type_name("TEXT");
    report_->add_flag("--mailto", mailto_, "Print the report as a mailto: link instead (when it fits 8192 characters)");
    report_->add_option("URL", url_, "The link that still carries tracking")->required();
    addRulesOption(report_);

    for (CLI::App* command : {map_, wayback_, share_, report_})
        command->footer(
            "Exit status: 0 printed, 1 the link has no answer (the reason goes to standard error), "
            "2 usage error" +
            std::string(command == share_ || command == report_ ? ", 3 rules that cannot be read" : "") +
            ", 4 the output could not be written.");
}

bool LinkCommands::parsed() const {
    return map_->parsed() || wayback_->parsed() || share_->parsed() || report_->parsed();
}

ExitStatus LinkCommands::run(const std::optional<std::filesystem::path>& rulesDirectory, std::ostream& out,
                             std::ostream& err) const {
    if (map_->parsed()) return map(out, err);
    if (share_->parsed()) return share(rulesDirectory, out, err);
    if (report_->parsed()) return report(rulesDirectory, out, err);
    const auto lookup = WaybackLinkBuilder::lookupURL(url_);
    if (!lookup) return refuse(err, "not an http(s) link with a host: " + url_);
    out << *lookup << '\n';
    return ExitStatus::success;
}

ExitStatus LinkCommands::map(std::ostream& out, std::ostream& err) const {
    const auto transformation = MapLinkTransformer::transform(url_);
    if (!transformation) {
        return refuse(err,
                      "no conversion: not an https Apple Maps or Google Maps link of a shape both services "
                      "understand (every parameter must carry over)");
    }
    if (json_) {
        out << transformation->toJson().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else {
        out << transformation->url << '\n';
    }
    return ExitStatus::success;
}

ExitStatus LinkCommands::share(const std::optional<std::filesystem::path>& rulesDirectory, std::ostream& out,
                               std::ostream& err) const {
    ToolContext context(err, ToolContext::StoreAccess::readOnly);
    if (!context.loadRules(rulesDirectory)) return ExitStatus::rulesUnreadable;
    PrivacyRedirectSettings settings(context.defaults());
    settings.xRedirectEnabled = true;
    settings.redditRedirectEnabled = true;
    const auto result = context.makeCleaner(std::move(settings)).clean(url_);
    const auto body = result ? DualLinkShareBuilder::body(*result, context_) : std::nullopt;
    if (!body) return refuse(err, "not an X or Reddit web link, or one on a site exception: " + url_);
    out << *body << '\n';
    return ExitStatus::success;
}

ExitStatus LinkCommands::report(const std::optional<std::filesystem::path>& rulesDirectory, std::ostream& out,
                                std::ostream& err) const {
    ToolContext context(err, ToolContext::StoreAccess::readOnly);
    if (!context.loadRules(rulesDirectory)) return ExitStatus::rulesUnreadable;
    URLCleaner& cleaner = context.makeCleaner(PrivacyRedirectSettings(context.defaults()));
    const CleanOutcome outcome = cleaner.cleanWithOutcome(url_);
    CleanResult result;
    switch (outcome.kind()) {
        case CleanOutcome::Kind::cleaned:
            result = *outcome.result();
            break;
        case CleanOutcome::Kind::unchanged:
            // A link with nothing removed is the plainest missed tracker of all.
            result.originalURL = result.cleanedURL = text::trim(url_);
            break;
        case CleanOutcome::Kind::skippedDisabled:
            return refuse(err, *outcome.host() + " is a site exception, so its links are not cleaned");
        case CleanOutcome::Kind::invalid:
            return refuse(err, "not a web link: " + url_);
    }

    const auto report = MissedTrackerReportBuilder::build(result, installation(context.engine()), note_,
                                                          std::chrono::system_clock::now());
    if (!mailto_) {
        out << report.bodyText() << '\n';
    } else if (report.mailtoIsSafeLength()) {
        out << report.mailtoURL() << '\n';
    } else {
        return refuse(err, "the report is longer than an e-mail link can carry (" +
                               std::to_string(MissedTrackerReport::mailtoLengthLimit) +
                               " characters); print it without --mailto and send it as text");
    }
    return ExitStatus::success;
}

}  // namespace tessaril::cli
