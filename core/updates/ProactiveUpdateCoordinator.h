// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Clock.h"
#include "core/foundation/Date.h"
#include "core/foundation/Signal.h"
#include "core/foundation/TaskExecutor.h"
#include "core/preferences/ProactivePreferences.h"
#include "core/updates/DesktopUpdateChecker.h"
#include "core/updates/RulesUpdater.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// Starts the periodic checks the user opted in to: the rules once a day, the application's release
// once a week, each throttled by its last attempt. A newer release is only announced through
// `notify`; nothing is downloaded for it. Lives on the main thread.
class ProactiveUpdateCoordinator {
public:
    static constexpr std::chrono::seconds tickInterval{60};

    using Notify = std::function<void(std::string_view)>;

    struct Services {
        RulesUpdater& rules;
        DesktopUpdateChecker& desktop;
        TaskExecutor& executor;
        const Clock& clock;
    };

    // Everything in `services` must outlive the coordinator. `version` and `build` are the running
    // application's.
    ProactiveUpdateCoordinator(Services services, std::string version, std::int64_t build, Notify notify);
    ProactiveUpdateCoordinator(const ProactiveUpdateCoordinator&) = delete;
    ProactiveUpdateCoordinator& operator=(const ProactiveUpdateCoordinator&) = delete;

    // Ticks at once, then every tickInterval; a second start while running changes nothing.
    void start();
    void stop();
    [[nodiscard]] bool isRunning() const { return timer_.has_value(); }

    // Starts each check that is due at `now`.
    void tick(Date now);

private:
    Services services_;
    ProactivePreferences& preferences_;
    Notify notify_;
    std::optional<ScopedConnection> timer_;
    std::string version_;
    std::int64_t build_;
    // A release check answering after the coordinator is gone finds this expired.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

}  // namespace tessaril
