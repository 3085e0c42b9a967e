// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/state/AppState.h"

#include "app/state/DesktopShell.h"
#include "core/foundation/Notifier.h"
#include "core/foundation/UserDefaults.h"
#include "core/transform/PrivacyRedirectSettings.h"

#include <iostream>
#include <ostream>
#include <string>

namespace tessaril {

namespace {

std::function<void(std::string_view)> writeLinesTo(std::ostream& out) {
    return [&out](std::string_view line) { out << line << '\n'; };
}

}  // namespace

AppState::AppState(AppPlatform& platform) : AppState(platform, std::cout, std::cerr) {}

AppState::AppState(AppPlatform& platform, std::ostream& out, std::ostream& err)
    : platform_(platform),
      out_(out),
      err_(err),
      version_(AppVersion::compiled()),
      session_(platform.https),
      rulesEngine_(platform.defaults, RulesEngineEnvironment{platform.resources, &platform.paths, writeLinesTo(out)}),
      rulesUpdater_(rulesEngine_, platform.defaults,
                    RulesUpdater::Environment{.paths = &platform.paths,
                                              .resources = platform.resources,
                                              .diagnostic = writeLinesTo(out),
                                              .session = &session_,
                                              .executor = &platform.executor,
                                              .appVersion = version_.shortVersion,
                                              .clock = &platform.clock,
                                              .manifestKey = platform.rulesSigningKey}),
      rulesLoaded_((rulesUpdater_.loadPreferringAppSupport(), true)),
      statsTracker_(platform.defaults, platform.clock),
      notificationManager_(platform.defaults, &platform.notifier),
      exceptionStore_(platform.defaults),
      lastCleanRecorder_(platform.clock),
      urlCleaner_(rulesEngine_, &exceptionStore_, PrivacyRedirectSettings(platform.defaults)),
      customBlocklist_(platform.defaults),
      monitor_(ClipboardMonitor::Services{urlCleaner_, &lastCleanRecorder_, statsTracker_, notificationManager_,
                                          [&platform] { return CommandGuard(platform.resources, &platform.paths); },
                                          platform.defaults, platform.pasteboard, platform.executor, platform.https,
                                          platform.clock}),
      desktopUpdateChecker_(session_, platform.executor),
      updateCoordinator_({rulesUpdater_, desktopUpdateChecker_, platform.executor, platform.clock},
                         version_.shortVersion, version_.build,
                         [this](std::string_view text) { notificationManager_.sendUpdateNotification(text); }) {
    urlCleaner_.setCustomBlocklist(&customBlocklist_);
    // The version in use at start is already what the monitor's guard was built from; only rules
    // installed from now on need a new one.
    subscriptions_.push_back(
        rulesUpdater_.installedCommandGuardVersionChanged().connect([this] { monitor_.reloadCommandGuard(); }));
    updateCoordinator_.start();
    notificationManager_.requestPermission();
    monitor_.start();
    subscriptions_.push_back(monitor_.changed().connect([this](ClipboardMonitor::Property) { changed_.emit(); }));
    subscriptions_.push_back(exceptionStore_.disabledDomainsChanged().connect([this] { changed_.emit(); }));
    subscriptions_.push_back(lastCleanRecorder_.currentChanged().connect(
        [this](const std::optional<LastCleanRecord>&) { changed_.emit(); }));
}

AppState::~AppState() = default;

AppState::MenuBarIcon AppState::menuBarIcon() const {
    if (monitor_.lastCommandRisk() || !monitor_.unknownParameters().empty()) return MenuBarIcon::warning;
    return monitor_.isEnabled() ? MenuBarIcon::linkFilled : MenuBarIcon::linkOutline;
}

bool AppState::launchAtLogin() const {
    return platform_.defaults.boolValue(launchAtLoginKey).value_or(false);
}

void AppState::setLaunchAtLogin(bool enabled) {
    platform_.defaults.set(launchAtLoginKey, enabled);
    if (const auto error = platform_.shell.setLaunchAtLogin(enabled))
        out_ << "Failed to set launch at login: " << *error << '\n';
}

bool AppState::takeOpenPreferencesAtStart() {
    const bool requested = platform_.defaults.boolValue(openPreferencesAtStartKey).value_or(false);
    platform_.defaults.remove(openPreferencesAtStartKey);
    return requested;
}

void AppState::reportNoTrayHost() {
    if (noTrayHostReported_) return;
    noTrayHostReported_ = true;
    platform_.defaults.set(openPreferencesAtStartKey, true);
    err_ << "tessaril: " << noTrayHostText << '\n';
    if (platform_.notifier.isAvailable())
        platform_.notifier.post(
            Notification{std::string(noTrayHostNotificationIdentifier), "Tessaril", std::string(noTrayHostText)});
}

}  // namespace tessaril
