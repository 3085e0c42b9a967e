// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/ProactiveUpdateCoordinator.h"

#include <utility>
#include <variant>

namespace tessaril {

ProactiveUpdateCoordinator::ProactiveUpdateCoordinator(Services services, std::string version, std::int64_t build,
                                                       Notify notify)
    : services_(services),
      preferences_(services.rules.proactivePreferences()),
      notify_(std::move(notify)),
      version_(std::move(version)),
      build_(build) {}

void ProactiveUpdateCoordinator::start() {
    if (timer_) return;
    tick(services_.clock.now());
    // The connection stops the timer with the coordinator; the weak reference also covers a tick
    // already under way when it goes.
    timer_ = services_.executor.scheduleRepeating(tickInterval, [this, alive = std::weak_ptr<const bool>(alive_)] {
        if (alive.lock()) tick(services_.clock.now());
    });
}

void ProactiveUpdateCoordinator::stop() {
    timer_.reset();
}

void ProactiveUpdateCoordinator::tick(Date now) {
    const double seconds = std::chrono::duration<double>(now.time_since_epoch()).count();
    // A check under way is not even asked about, so its claim does not restart the wait.
    if (!services_.rules.updateStatus().isBusy() && preferences_.claim(ProactivePreferences::Check::rules, seconds))
        services_.rules.checkForUpdates(true);

    if (std::holds_alternative<DesktopUpdateStatus::Checking>(services_.desktop.status().state())) return;
    if (!preferences_.claim(ProactivePreferences::Check::app, seconds)) return;
    services_.desktop.check(version_, build_,
                            [this, alive = std::weak_ptr<const bool>(alive_)](const DesktopUpdateStatus& status) {
                                // Switched off while the answer was on its way: the user no longer wants to hear.
                                if (!alive.lock() || !preferences_.weeklyApp()) return;
                                if (!std::holds_alternative<DesktopUpdateStatus::Available>(status.state())) return;
                                if (const auto text = status.displayText()) notify_(*text);
                            });
}

}  // namespace tessaril
