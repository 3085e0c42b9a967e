// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Signal.h"
#include "core/foundation/TaskExecutor.h"
#include "core/updates/DesktopReleaseInfo.h"
#include "core/updates/DesktopUpdateStatus.h"
#include "core/updates/StaticUpdateSession.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tessaril {

// Tells whether a newer desktop release exists, from the release file on the static update origin.
// It only informs: nothing is downloaded, installed or opened. Lives on the main thread; the fetch
// runs in the background.
class DesktopUpdateChecker {
public:
    static constexpr std::chrono::seconds requestTimeout{20};

    // The session and the executor must outlive the checker.
    DesktopUpdateChecker(const StaticUpdateSession& session, TaskExecutor& executor)
        : session_(session), executor_(executor) {}

    // "https://" + the origin host + "/tessaril/releases/desktop.json".
    [[nodiscard]] static std::string releaseURL();

    [[nodiscard]] const DesktopUpdateStatus& status() const { return status_; }
    [[nodiscard]] Signal<>& statusChanged() { return statusChanged_; }
    // The release the last good release file described, with its links filtered by trusted().
    [[nodiscard]] const std::optional<DesktopReleaseInfo>& latest() const { return latest_; }

    // Compares the published release with the running one (its version and build) and calls
    // `completion` on the main thread with the final status. Ignored, completion and all, while a
    // check is under way.
    void check(std::string currentVersion, std::int64_t currentBuild,
               std::function<void(const DesktopUpdateStatus&)> completion = {});

    // A link of the release file, resolved against releaseURL(), kept only on the origin's host over
    // https with no user, password or port other than 443.
    [[nodiscard]] static std::optional<std::string> trusted(const std::optional<std::string>& link);

private:
    void handle(const HttpsResult& result, const std::string& currentVersion, std::int64_t currentBuild);
    void setStatus(DesktopUpdateStatus status);

    const StaticUpdateSession& session_;
    TaskExecutor& executor_;
    DesktopUpdateStatus status_;
    Signal<> statusChanged_;
    std::optional<DesktopReleaseInfo> latest_;
    // Background work holds this weakly: once the checker is gone, its result is dropped.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

}  // namespace tessaril
