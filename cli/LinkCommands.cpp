// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/LinkCommands.h"

#include <sys/utsname.h>
#include <CLI/CLI.hpp>

#include <chrono>
#include <ostream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "cli/MainLoop.h"
#include "cli/ToolContext.h"
#include "core/cleaning/CleanOutcome.h"
#include "core/conversions/DualLinkShareBuilder.h"
#include "core/conversions/MapLinkTransformer.h"
#include "core/foundation/Text.h"
#include "core/report/MissedTrackerReportBuilder.h"
#include "core/transform/ShareLinkResolver.h"
#include "core/transform/WaybackLinkBuilder.h"
#include "platform/http/CurlHttpsClient.h"

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

    resolve_ = app.add_subcommand(
        "resolve", "Ask an Instagram, Threads or Reddit share link's own service for the post it leads to");
    resolve_->add_flag("--json", json_, "Print the clean of the post link as JSON, the resolution its first step");
    resolve_->add_option("URL", url_, "The share link")->required();
    addRulesOption(resolve_);

    for (CLI::App* command : {map_, wayback_, share_, report_, resolve_}) {
        const bool cleans = command == share_ || command == report_ || command == resolve_;
        command->footer(
            "Exit status: 0 printed, 1 the link has no answer (the reason goes to standard error), "
            "2 usage error" +
            std::string(cleans ? ", 3 rules that cannot be read" : "") + ", 4 the output could not be written.");
    }
}

bool LinkCommands::parsed() const {
    return map_->parsed() || wayback_->parsed() || share_->parsed() || report_->parsed() || resolve_->parsed();
}

ExitStatus LinkCommands::run(const std::optional<std::filesystem::path>& rulesDirectory, HttpsClient* network,
                             std::ostream& out, std::ostream& err) const {
    if (map_->parsed()) return map(out, err);
    if (share_->parsed()) return share(rulesDirectory, out, err);
    if (report_->parsed()) return report(rulesDirectory, out, err);
    if (resolve_->parsed()) return resolve(rulesDirectory, network, out, err);
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

ExitStatus LinkCommands::resolve(const std::optional<std::filesystem::path>& rulesDirectory, HttpsClient* network,
                                 std::ostream& out, std::ostream& err) const {
    ToolContext context(err, ToolContext::StoreAccess::readOnly);
    if (!context.loadRules(rulesDirectory)) return ExitStatus::rulesUnreadable;
    // Trackers come off before the link goes to its service. A front-end rewrite waits for the post
    // link: the share link itself must go to its own service.
    PrivacyRedirectSettings rewrites(context.defaults());
    URLCleaner& cleaner = context.makeCleaner(PrivacyRedirectSettings::disabled());
    const CleanOutcome local = cleaner.cleanWithOutcome(url_);
    if (local.kind() == CleanOutcome::Kind::skippedDisabled) {
        return refuse(err, *local.host() + " is a site exception, so its links are not cleaned");
    }
    const CleanResult* cleaned = local.result();
    const std::string original = cleaned ? cleaned->originalURL : std::string(text::trim(url_));
    const std::string shareLink = cleaned ? cleaned->cleanedURL : original;

    // The loop comes second, so its worker is joined before the client it uses is gone.
    std::optional<CurlHttpsClient> ownNetwork;
    MainLoop loop;
    std::optional<ShareLinkResolution> resolution;
    ShareLinkResolver::resolve(network ? *network : ownNetwork.emplace(), loop, shareLink,
                               [&resolution](ShareLinkResolution outcome) { resolution = std::move(outcome); });
    loop.runUntil([&resolution] { return resolution.has_value(); });
    if (const auto* error = std::get_if<ShareLinkResolutionError>(&*resolution)) {
        return refuse(err, description(*error));
    }
    const auto& resolved = std::get<ResolvedShareLink>(*resolution);
    cleaner.setPrivacyRedirectSettings(std::move(rewrites));
    const CleanResult result =
        cleaner.resultAfterNetworkResolution(original, resolved.canonicalURL, resolved.contactedHost);
    if (json_) {
        out << result.toJson().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    } else {
        out << result.cleanedURL << '\n';
    }
    return ExitStatus::success;
}

}  // namespace tessaril::cli
