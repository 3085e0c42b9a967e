// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Notifier.h"
#include "core/foundation/Signal.h"
#include "core/foundation/UserDefaults.h"

#include <string>
#include <string_view>

namespace tessaril {

struct CleanResult;
struct CommandRiskResult;

// The product's banners: a cleaned link, a risky command copied or neutralized, and a newer release
// of the application. The user switches the first two on and off; both are on until switched off.
// Lives on the main thread.
class NotificationManager {
public:
    static constexpr std::string_view enabledKey = "notifications_enabled";
    static constexpr std::string_view commandWarningsEnabledKey = "notifications_command_warnings_enabled";
    // Release notices share it, so a newer one replaces the older instead of stacking up.
    static constexpr std::string_view updateNotificationIdentifier = "tessaril-app-update";

    // Reads both switches (a stored value of another type counts as absent). Without a notifier, or
    // with one that is not available, no banner is posted and permission is never asked for; the
    // switches still read and write.
    NotificationManager(UserDefaults& defaults, Notifier* notifier);
    NotificationManager(const NotificationManager&) = delete;
    NotificationManager& operator=(const NotificationManager&) = delete;

    [[nodiscard]] bool isEnabled() const { return isEnabled_; }
    [[nodiscard]] bool areCommandWarningsEnabled() const { return areCommandWarningsEnabled_; }
    // Each stores the new value under its key at once.
    void setEnabled(bool enabled);
    void setCommandWarningsEnabled(bool enabled);
    // Emitted after either switch was set.
    [[nodiscard]] Signal<>& switchesChanged() { return switchesChanged_; }

    void requestPermission();
    // "URL Cleaned" with notificationBody(result), while the clean switch is on.
    void sendCleanNotification(const CleanResult& result);
    // The primary finding's summary, while the command switch is on (the clean switch plays no part).
    void sendCommandWarningNotification(const CommandRiskResult& result, bool neutralized = false);
    // `text` and where to go next, whatever the switches say.
    void sendUpdateNotification(std::string_view text);

    // What a clean banner says: the service of a resolved share link, else a privacy rewrite that
    // removed nothing, else how many trackers went and the first two names.
    [[nodiscard]] static std::string notificationBody(const CleanResult& result);

private:
    // The notifier, when banners can be shown at all.
    [[nodiscard]] Notifier* availableNotifier() const;

    UserDefaults& defaults_;
    Notifier* notifier_;
    bool isEnabled_;
    bool areCommandWarningsEnabled_;
    Signal<> switchesChanged_;
};

}  // namespace tessaril
