// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/WatchCommand.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/LineReader.h"
#include "cli/MainLoop.h"
#include "cli/ToolContext.h"
#include "core/clipboard/ClipboardMonitor.h"
#include "core/clipboard/LastCleanRecorder.h"
#include "core/foundation/Clock.h"
#include "core/foundation/Pasteboard.h"
#include "core/notifications/NotificationManager.h"
#include "core/stats/StatsTracker.h"
#include "platform/http/CurlHttpsClient.h"
#include "platform/paths/CoreResources.h"
#include "platform/paths/XdgPaths.h"

namespace tessaril::cli {

namespace {

using Property = ClipboardMonitor::Property;

// What the loop announced since the last report.
struct Announced {
    bool cleaned = false;
    bool resultSet = false;
    bool warned = false;
    bool skipped = false;
    bool resolutionFailed = false;
};

std::string jsonLine(const nlohmann::ordered_json& event) {
    // A copied line need not be UTF-8; the event still prints.
    return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
}

}  // namespace

WatchCommand::WatchCommand(CLI::App& app) {
    command_ = app.add_subcommand("watch", "Run the clipboard loop with standard input as the clipboard");
    command_->add_flag("--json", json_, "One JSON object a line for each thing the loop did");
    command_->footer(
        "Each input line is copied to a stand-in clipboard as another program would copy it. Cleaned links\n"
        "and neutralized commands written back are printed; warnings go to standard error. With --json:\n"
        "{\"event\": \"cleaned\", \"result\": ...}, {\"event\": \"warned\" or \"neutralized\", \"risk\": ...},\n"
        "{\"event\": \"pendingShareLink\", \"link\": ...}, {\"event\": \"skippedSite\", \"host\": ...} and\n"
        "{\"event\": \"shareLinkFailed\", \"message\": ...}. Settings and rules are the tray application's;\n"
        "counts and the last result stay in memory. End of input ends the command.");
}

bool WatchCommand::parsed() const {
    return command_->parsed();
}

ExitStatus WatchCommand::run(const std::optional<std::filesystem::path>& rulesDirectory, HttpsClient* network,
                             std::istream& in, std::ostream& out, std::ostream& err) const {
    ToolContext context(err, ToolContext::StoreAccess::readOnly);
    if (!context.loadRules(rulesDirectory)) return ExitStatus::rulesUnreadable;
    UserDefaults& defaults = context.defaults();
    URLCleaner& cleaner = context.makeCleaner(PrivacyRedirectSettings(defaults));
    const SystemClock clock;
    LastCleanRecorder recorder(clock);
    StatsTracker stats(defaults, clock);
    NotificationManager notifications(defaults, nullptr);
    InMemoryPasteboard pasteboard;
    const XdgPaths paths;
    const auto& resources = coreResources();
    // The loop comes after the network, so its worker is joined before the client it uses is gone.
    std::optional<CurlHttpsClient> ownNetwork;
    MainLoop loop;
    ClipboardMonitor monitor({cleaner, &recorder, stats, notifications,
                              [&] { return CommandGuard(resources ? &*resources : nullptr, &paths); }, defaults,
                              pasteboard, loop, network ? *network : ownNetwork.emplace(), clock});

    Announced announced;
    const auto connection = monitor.changed().connect([&](Property property) {
        announced.cleaned |= property == Property::cleanedCountToday;
        announced.resultSet |= property == Property::lastCleanedResult && monitor.lastCleanedResult();
        announced.warned |= property == Property::lastCommandRisk && monitor.lastCommandRisk();
        announced.skipped |= property == Property::lastSkippedDomain && monitor.lastSkippedDomain();
        announced.resolutionFailed |=
            property == Property::shareLinkResolutionError && monitor.shareLinkResolutionError();
    });

    // Says what happened since the clipboard's change count was `before`, for the copied `line`.
    const auto report = [&](std::int64_t before, std::string_view line) {
        const bool wrote = pasteboard.changeCount() != before;
        const std::string written = wrote ? pasteboard.plainText().value_or("") : std::string();
        const bool neutralized = wrote && written.starts_with(CommandGuard::neutralizedHeader);
        if (!json_) {
            if (wrote) out << written << '\n';
            if (announced.warned)
                err << "tessaril: risky command: " << monitor.lastCommandRisk()->findings.front().summary << '\n';
            if (announced.resolutionFailed) err << "tessaril: " << *monitor.shareLinkResolutionError() << '\n';
        } else {
            using Json = nlohmann::ordered_json;
            if (announced.skipped) out << jsonLine({{"event", "skippedSite"}, {"host", *monitor.lastSkippedDomain()}});
            if (announced.cleaned) {
                out << jsonLine({{"event", "cleaned"}, {"result", monitor.lastCleanedResult()->toJson()}});
            } else if (announced.resultSet && monitor.hasPendingShareLinkResolution()) {
                out << jsonLine({{"event", "pendingShareLink"}, {"link", monitor.lastCleanedResult()->cleanedURL}});
            }
            if (announced.warned) out << jsonLine({{"event", "warned"}, {"risk", monitor.lastCommandRisk()->toJson()}});
            if (neutralized) {
                // The monitor forgets the verdict once the command is off the clipboard; ask again.
                const auto risk = monitor.commandGuard().analyze(line, monitor.commandGuardThreshold());
                out << jsonLine({{"event", "neutralized"}, {"risk", risk ? risk->toJson() : Json()}});
            }
            if (announced.resolutionFailed)
                out << jsonLine({{"event", "shareLinkFailed"}, {"message", *monitor.shareLinkResolutionError()}});
        }
        out.flush();
        announced = {};
    };

    monitor.start();
    // Each line is looked at right after it is copied (below); the looks the monitor would post on
    // every change of the stand-in clipboard would only pile up, one per line, unread.
    pasteboard.onChange({});
    LineReader reader(in);
    while (const auto line = reader.next()) {
        // Only these lines change the stand-in clipboard, so each is looked at at once rather than on
        // the next tick; a share link resolving on its own is waited for, so answers keep their order.
        pasteboard.copyText(*line);
        const auto copied = pasteboard.changeCount();
        monitor.checkClipboard();
        report(copied, *line);
        if (!monitor.isResolvingShareLink()) continue;
        const auto pending = pasteboard.changeCount();
        loop.runUntil([&monitor] { return !monitor.isResolvingShareLink(); });
        report(pending, *line);
    }
    return ExitStatus::success;
}

}  // namespace tessaril::cli
