// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/menu/TrayMenuModel.h"

#include "app/state/AppState.h"
#include "app/state/DesktopShell.h"
#include "core/cleaning/UnknownParameterDetector.h"
#include "core/conversions/MapLinkTransformer.h"
#include "core/foundation/Pasteboard.h"
#include "core/report/MissedTrackerReport.h"
#include "core/transform/WaybackLinkBuilder.h"

#include <cstddef>
#include <utility>

namespace tessaril::TrayMenuModel {

namespace {

using Kind = MenuEntry::Kind;
using Group = std::vector<MenuEntry>;

MenuEntry label(std::string text, std::string help = {}) {
    return {Kind::label, std::move(text), std::move(help), {}, true, false, {}};
}

MenuEntry header(std::string text) {
    return {Kind::header, std::move(text), {}, {}, true, false, {}};
}

MenuEntry button(std::string text, std::function<void()> action, std::string help = {},
                 std::string accessibleName = {}) {
    return {Kind::button, std::move(text), std::move(help), std::move(accessibleName), true, false, std::move(action)};
}

MenuEntry toggle(std::string_view title, bool on, std::function<void()> action, std::string help = {}) {
    return {Kind::toggle, std::string(title) + (on ? "ON" : "OFF"), std::move(help), {}, true, on, std::move(action)};
}

std::string joined(const std::vector<std::string>& names, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count && i < names.size(); ++i) {
        if (i > 0) text += ", ";
        text += names[i];
    }
    return text;
}

std::string_view severityName(CommandRiskSeverity severity) {
    switch (severity) {
        case CommandRiskSeverity::info:
            return "Info";
        case CommandRiskSeverity::warning:
            return "Warning";
        case CommandRiskSeverity::danger:
            return "Danger";
    }
    return "Warning";
}

// Every copy replaces what is on the clipboard with the text alone.
std::function<void()> copying(AppState& state, std::string text) {
    return [&state, text = std::move(text)] {
        Pasteboard& pasteboard = state.platform().pasteboard;
        pasteboard.clear();
        pasteboard.writePlainText(text);
    };
}

std::function<void()> opening(AppState& state, std::string window) {
    return [&state, window = std::move(window)] { state.platform().shell.openWindow(window); };
}

Group switches(AppState& state) {
    ClipboardMonitor& monitor = state.monitor();
    return {
        toggle("Auto-Clean Copied Links: ", monitor.isEnabled(),
               [&monitor] { monitor.setEnabled(!monitor.isEnabled()); }),
        toggle(
            "Auto-Resolve Share Links: ", monitor.automaticShareLinkResolutionEnabled(),
            [&monitor] {
                monitor.setAutomaticShareLinkResolutionEnabled(!monitor.automaticShareLinkResolutionEnabled());
            },
            "Optional network resolution for supported Instagram, Threads, and Reddit share wrappers. Off by "
            "default."),
        button("Clean Copied Link Now", [&monitor] { monitor.cleanNow(); }),
    };
}

Group unknownParameters(AppState& state) {
    const auto& names = state.monitor().unknownParameters();
    if (names.empty()) return {};
    return {
        button("Unrecognized parameters: " + joined(names, names.size()), opening(state, "settings"),
               std::string(UnknownParameterDetector::explanation)),
        label("May be functional. Review in Advanced preferences."),
    };
}

Group commandWarning(AppState& state) {
    const auto& risk = state.monitor().lastCommandRisk();
    if (!risk) return {};
    Group group = {
        header("Command Guard: " + std::string(severityName(risk->severity))),
        button("Review Command Warning\u2026", opening(state, "settings"), "Review the last risky command warning"),
    };
    if (const auto finding = risk->primaryFinding()) {
        group.push_back(label("Reason: " + finding->summary));
        group.push_back(button("Matched: " + finding->matchedText, copying(state, finding->matchedText),
                               "Copy matched command fragment", "Matched command fragment"));
    }
    ClipboardMonitor& monitor = state.monitor();
    group.push_back(button("Copy Risky Command", copying(state, risk->command),
                           "Copy the full command that triggered Command Guard", "Risky command"));
    group.push_back(button("Clear Command Warning", [&monitor] { monitor.clearLastCommandRisk(); }));
    return group;
}

Group lastClean(AppState& state) {
    ClipboardMonitor& monitor = state.monitor();
    const auto& result = monitor.lastCleanedResult();
    if (!result) return {};
    const bool pending = monitor.hasPendingShareLinkResolution();
    const bool changed = result->originalURL != result->cleanedURL;
    Group group = {header(pending ? "One more step needed" : changed ? "Last clean" : "No changes needed")};
    group.push_back(button("Original: " + result->originalURL, copying(state, result->originalURL), "Copy original URL",
                           "Original URL"));
    if (pending) {
        group.push_back(button("Current URL (not resolved): " + result->cleanedURL, copying(state, result->cleanedURL),
                               "Copy current unresolved URL", "Current URL, not resolved"));
    } else {
        group.push_back(button("Cleaned: " + result->cleanedURL, copying(state, result->cleanedURL), "Copy cleaned URL",
                               "Cleaned URL"));
    }
    MenuEntry wayback =
        button("Copy Wayback Link", {},
               "Copies an Internet Archive lookup link. Tessaril does not submit the page for archiving.");
    if (const auto lookup = WaybackLinkBuilder::lookupURL(result->cleanedURL)) {
        wayback.action = copying(state, *lookup);
    } else {
        wayback.enabled = false;
    }
    group.push_back(std::move(wayback));
    const bool removedSomething = !result->removedQueryParameters.empty() || result->privacyRedirect || changed;
    group.push_back(label(removedSomething ? "Removed: " + removedSummary(*result) : "This link already looks clean"));

    if (pending) {
        group.push_back(label("Needs action"));
        const bool resolving = monitor.isResolvingShareLink();
        MenuEntry resolve = button(
            resolving ? "Resolving Direct Link\u2026" : "Resolve Direct Link (Network)",
            [&monitor] { monitor.resolvePendingShareLink(); },
            "Contacts only the recognized Instagram, Threads, or Reddit service using an "
            "ephemeral, cookie-free session.");
        resolve.enabled = !resolving;
        group.push_back(std::move(resolve));
    }
    if (const auto& error = monitor.shareLinkResolutionError()) group.push_back(label("Resolution failed: " + *error));

    for (const auto& operation : result->operations) {
        group.push_back(label("Operation: " + std::string(operationLabel(operation.kind)),
                              operation.networkUsed ? "This step used the network after an explicit request."
                                                    : "This step ran locally."));
    }
    if (auto map = MapLinkTransformer::transform(result->cleanedURL)) {
        const bool google = map->target == MapLinkTarget::googleMaps;
        group.push_back(button(
            google ? "Open in Google Maps (Local)" : "Open in Apple Maps (Local)",
            [&state, map = std::move(*map)] {
                // The step is on record before anything leaves the application.
                state.monitor().recordFunctionalTransformation(map.operation);
                state.platform().shell.openUrl(map.url);
            },
            "Converts the map link locally, then opens the selected mapping app."));
    }
    if (state.lastCleanRecorder().current()) {
        group.push_back(button("Copy Original URL", [&monitor] { monitor.restoreLastOriginal(); }));
        group.push_back(button("Disable Cleaning for This Site", [&monitor] { monitor.disableLastDomain(); }));
    }
    group.push_back(button(std::string(MissedTrackerReport::SharedCopy::reportActionLabel), opening(state, "report")));
    return group;
}

Group skippedSite(AppState& state) {
    const auto& domain = state.monitor().lastSkippedDomain();
    if (!domain) return {};
    return {
        label("Left unchanged \u2014 cleaning is turned off for " + *domain),
        button("Manage site exceptions\u2026", opening(state, "settings")),
    };
}

Group todayCount(AppState& state) {
    const auto count = state.monitor().cleanedCountToday();
    return {label(count > 0 ? std::to_string(count) + " URLs cleaned today" : "No cleaned links yet")};
}

Group windows(AppState& state) {
    return {
        button("Welcome and How It Works\u2026", opening(state, "welcome")),
        button("Preferences\u2026", opening(state, "settings")),
        button("Quit Tessaril", [&state] { state.platform().shell.quit(); }),
    };
}

}  // namespace

std::vector<MenuEntry> build(AppState& state) {
    std::vector<MenuEntry> entries;
    std::vector<Group> groups = {switches(state),    unknownParameters(state), commandWarning(state), lastClean(state),
                                 skippedSite(state), todayCount(state),        windows(state)};
    for (Group& group : groups) {
        if (group.empty()) continue;
        if (!entries.empty()) entries.push_back({Kind::separator, {}, {}, {}, true, false, {}});
        for (auto& entry : group)
            entries.push_back(std::move(entry));
    }
    return entries;
}

std::string removedSummary(const CleanResult& result) {
    const auto& names = result.removedQueryParameters;
    if (!names.empty()) {
        std::string summary = joined(names, 3);
        if (names.size() > 3) summary += ", +" + std::to_string(names.size() - 3) + " more";
        return summary;
    }
    if (const auto& rewrite = result.privacyRedirect)
        return "privacy rewrite: " + rewrite->originalHost + " \u2192 " + rewrite->frontendHost;
    return result.originalURL == result.cleanedURL ? "nothing" : "redirect or path pattern";
}

std::string_view operationLabel(CleanOperationKind kind) {
    switch (kind) {
        case CleanOperationKind::localParameterRemoval:
            return "removed locally";
        case CleanOperationKind::offlineWrapperUnwrap:
            return "unwrapped locally";
        case CleanOperationKind::offlinePathRewrite:
            return "rewritten locally";
        case CleanOperationKind::privacyRedirect:
            return "privacy rewrite locally";
        case CleanOperationKind::networkResolution:
            return "resolved using network";
        case CleanOperationKind::functionalTransformation:
            return "transformed locally";
    }
    return "ran locally";
}

}  // namespace tessaril::TrayMenuModel
