// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/state/AppPlatform.h"
#include "app/state/AppVersion.h"
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/clipboard/ClipboardMonitor.h"
#include "core/clipboard/LastCleanRecorder.h"
#include "core/foundation/Signal.h"
#include "core/notifications/NotificationManager.h"
#include "core/stats/StatsTracker.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"
#include "core/updates/DesktopUpdateChecker.h"
#include "core/updates/ProactiveUpdateCoordinator.h"
#include "core/updates/RulesUpdater.h"
#include "core/updates/StaticUpdateSession.h"

#include <iosfwd>
#include <string_view>
#include <vector>

namespace tessaril {

// Everything the application keeps for the life of the process, made once at start: the rules and
// their updater, the statistics, the notifications, the user's lists, the clipboard monitor and the
// periodic update checks. When the constructor returns, the clipboard is being watched. The tray
// and the windows read it and redraw on changed().
class AppState {
public:
    static constexpr std::string_view launchAtLoginKey = "launchAtLogin";
    // Set when the tray icon could not be shown, so the next start opens the preferences instead.
    static constexpr std::string_view openPreferencesAtStartKey = "app_openPreferencesAtStart";
    static constexpr std::string_view noTrayHostNotificationIdentifier = "tessaril-no-tray-host";
    static constexpr std::string_view noTrayHostText =
        "Tessaril cannot show its icon: the desktop offers no system tray. The clipboard is still being "
        "watched, and Preferences will open at the next start.";

    // What the tray icon shows.
    enum class MenuBarIcon {
        // A risky command or unrecognised parameters want a look.
        warning,
        // Copied links are cleaned.
        linkFilled,
        // Auto-clean is off.
        linkOutline,
    };

    // `platform` must outlive the state. Diagnostics go to `out` (the rules' and launch at login's)
    // and `err` (what the user must know when the tray cannot show).
    AppState(AppPlatform& platform, std::ostream& out, std::ostream& err);
    // Diagnostics on standard output and standard error.
    explicit AppState(AppPlatform& platform);
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;
    ~AppState();

    [[nodiscard]] AppPlatform& platform() const { return platform_; }
    [[nodiscard]] RulesEngine& rulesEngine() { return rulesEngine_; }
    [[nodiscard]] RulesUpdater& rulesUpdater() { return rulesUpdater_; }
    [[nodiscard]] StatsTracker& statsTracker() { return statsTracker_; }
    [[nodiscard]] NotificationManager& notificationManager() { return notificationManager_; }
    [[nodiscard]] DomainExceptionStore& exceptionStore() { return exceptionStore_; }
    [[nodiscard]] LastCleanRecorder& lastCleanRecorder() { return lastCleanRecorder_; }
    [[nodiscard]] URLCleaner& urlCleaner() { return urlCleaner_; }
    [[nodiscard]] CustomBlocklistStore& customBlocklist() { return customBlocklist_; }
    [[nodiscard]] ClipboardMonitor& monitor() { return monitor_; }
    [[nodiscard]] const ClipboardMonitor& monitor() const { return monitor_; }
    [[nodiscard]] DesktopUpdateChecker& desktopUpdateChecker() { return desktopUpdateChecker_; }
    [[nodiscard]] ProactiveUpdateCoordinator& updateCoordinator() { return updateCoordinator_; }
    [[nodiscard]] const AppVersion& version() const { return version_; }

    // After any change of the monitor, the site exceptions or the last clean's record.
    [[nodiscard]] Signal<>& changed() { return changed_; }

    [[nodiscard]] MenuBarIcon menuBarIcon() const;

    [[nodiscard]] bool launchAtLogin() const;
    // Keeps the user's choice even when the desktop refuses it; the refusal goes to `out`.
    void setLaunchAtLogin(bool enabled);

    // Whether the last run asked for the preferences at this start; the request is used up.
    [[nodiscard]] bool takeOpenPreferencesAtStart();
    // The tray icon cannot be shown: tells the user once, and has the next start open the
    // preferences, the one way left to reach the settings.
    void reportNoTrayHost();

private:
    AppPlatform& platform_;
    std::ostream& out_;
    std::ostream& err_;
    AppVersion version_;
    StaticUpdateSession session_;
    RulesEngine rulesEngine_;
    RulesUpdater rulesUpdater_;
    // Loads the rules before anything below is made.
    bool rulesLoaded_;
    StatsTracker statsTracker_;
    NotificationManager notificationManager_;
    DomainExceptionStore exceptionStore_;
    LastCleanRecorder lastCleanRecorder_;
    URLCleaner urlCleaner_;
    CustomBlocklistStore customBlocklist_;
    ClipboardMonitor monitor_;
    DesktopUpdateChecker desktopUpdateChecker_;
    ProactiveUpdateCoordinator updateCoordinator_;
    Signal<> changed_;
    std::vector<ScopedConnection> subscriptions_;
    bool noTrayHostReported_ = false;
};

}  // namespace tessaril
