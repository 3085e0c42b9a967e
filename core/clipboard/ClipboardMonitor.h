// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanOperation.h"
#include "core/cleaning/CleanOutcome.h"
#include "core/cleaning/CleanResult.h"
#include "core/foundation/Signal.h"
#include "core/guard/CommandGuard.h"
#include "core/guard/CommandRiskResult.h"
#include "core/guard/CommandRiskSeverity.h"
#include "core/transform/ShareLinkResolver.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

class Clock;
class HttpsClient;
class LastCleanRecorder;
class NotificationManager;
class Pasteboard;
class StatsTracker;
class TaskExecutor;
class URLCleaner;
class UserDefaults;

// The product's main loop: twice a second it looks whether the clipboard changed, hands newly
// copied text first to Command Guard and, when the guard does not claim it, to the URL cleaner, and
// writes cleaned links and neutralized commands back. It never processes its own writes, and never
// reads contents that their owner marked concealed. It keeps what the menu and the preferences show.
// Lives on the main thread; only a share link's resolution runs elsewhere.
class ClipboardMonitor {
public:
    static constexpr std::string_view lastCleanedResultKey = "clipboardMonitor_lastCleanedResult";
    static constexpr std::string_view commandGuardEnabledKey = "commandGuard_enabled";
    static constexpr std::string_view commandGuardThresholdKey = "commandGuard_threshold";
    static constexpr std::string_view commandGuardNeutralizeKey = "commandGuard_neutralize";
    static constexpr std::string_view lastCommandRiskKey = "commandGuard_lastRisk";
    static constexpr std::string_view automaticShareLinkResolutionKey = "automaticShareLinkResolution_enabled";
    // Followed by the day, "yyyy-MM-dd" in the user's zone.
    static constexpr std::string_view cleanedCountPrefix = "cleanedCount_";
    static constexpr std::chrono::milliseconds pollInterval{500};
    // A longer text is no link or command someone copied to paste: it is left alone like an image,
    // rather than examined and stored as the last result on the main thread.
    static constexpr std::size_t maximumTextBytes = std::size_t{1} << 20;
    // Shown when a failed resolution gives no reason of its own.
    static constexpr std::string_view shareLinkFailureText =
        "The share link could not be resolved. The current locally processed link remains available.";

    // What the monitor works with; everything must outlive it.
    struct Services {
        URLCleaner& urlCleaner;
        // The undo record of the last clean; without one there is no undo.
        LastCleanRecorder* lastCleanRecorder;
        StatsTracker& statsTracker;
        NotificationManager& notificationManager;
        // Builds Command Guard from the rules in use, at start and again on reloadCommandGuard().
        std::function<CommandGuard()> makeCommandGuard;
        UserDefaults& defaults;
        Pasteboard& pasteboard;
        TaskExecutor& executor;
        // Where share links are resolved.
        HttpsClient& network;
        const Clock& clock;
    };

    // The observable properties, named in changed().
    enum class Property {
        isEnabled,
        lastCleanedResult,
        lastSkippedDomain,
        unknownParameters,
        lastCommandRisk,
        cleanedCountToday,
        isCommandGuardEnabled,
        commandGuardThreshold,
        shouldNeutralizeRiskyCommands,
        automaticShareLinkResolutionEnabled,
        isResolvingShareLink,
        shareLinkResolutionError,
        commandGuard,
    };

    // Whatever is on the clipboard now is taken as seen: the first tick leaves it alone.
    explicit ClipboardMonitor(Services services);
    ClipboardMonitor(const ClipboardMonitor&) = delete;
    ClipboardMonitor& operator=(const ClipboardMonitor&) = delete;
    ~ClipboardMonitor();

    // Emitted after a property was set, even to the value it had.
    [[nodiscard]] Signal<Property>& changed() { return changed_; }

    [[nodiscard]] bool isEnabled() const { return isEnabled_; }
    [[nodiscard]] const std::optional<CleanResult>& lastCleanedResult() const { return lastCleanedResult_; }
    [[nodiscard]] const std::optional<std::string>& lastSkippedDomain() const { return lastSkippedDomain_; }
    [[nodiscard]] const std::vector<std::string>& unknownParameters() const { return unknownParameters_; }
    [[nodiscard]] const std::optional<CommandRiskResult>& lastCommandRisk() const { return lastCommandRisk_; }
    // The links cleaned on the current calendar day, also after midnight passed since the last one.
    [[nodiscard]] std::int64_t cleanedCountToday() const;
    [[nodiscard]] bool isCommandGuardEnabled() const { return isCommandGuardEnabled_; }
    [[nodiscard]] CommandRiskSeverity commandGuardThreshold() const { return commandGuardThreshold_; }
    [[nodiscard]] bool shouldNeutralizeRiskyCommands() const { return shouldNeutralizeRiskyCommands_; }
    [[nodiscard]] bool automaticShareLinkResolutionEnabled() const { return automaticShareLinkResolutionEnabled_; }
    [[nodiscard]] bool isResolvingShareLink() const { return isResolvingShareLink_; }
    [[nodiscard]] const std::optional<std::string>& shareLinkResolutionError() const {
        return shareLinkResolutionError_;
    }
    [[nodiscard]] const CommandGuard& commandGuard() const { return commandGuard_; }
    // Whether the last result is a share link that can still be resolved over the network.
    [[nodiscard]] bool hasPendingShareLinkResolution() const;

    // Auto-clean only gates links; Command Guard still runs when it is off.
    void setEnabled(bool enabled);
    // These four store the new value at once. None looks at the clipboard again.
    void setCommandGuardEnabled(bool enabled);
    void setCommandGuardThreshold(CommandRiskSeverity threshold);
    void setShouldNeutralizeRiskyCommands(bool neutralize);
    void setAutomaticShareLinkResolutionEnabled(bool enabled);

    // Polls every pollInterval until stop(). Starting again replaces the timer.
    void start();
    void stop();

    // One poll: processes the clipboard if another program changed it since the last look.
    void checkClipboard();
    // Processes the clipboard's text as a link now, whatever the change count, Command Guard and
    // auto-clean say ("Clean Copied Link Now").
    void cleanNow();
    // Puts the last cleaned link's original back, once per clean.
    bool restoreLastOriginal();
    // Stops cleaning on the last cleaned link's site; returns the host, or nothing when there was
    // nothing to disable.
    std::optional<std::string> disableLastDomain();
    void clearLastCommandRisk();
    void clearUnknownParameters();
    // Adds a map-link conversion, made without the network, to the last result's steps.
    void recordFunctionalTransformation(const CleanOperation& operation);
    // Builds Command Guard again, so that newly installed rules take effect.
    void reloadCommandGuard();
    // Starts resolving the pending share link in the background, unless one is already under way.
    void resolvePendingShareLink();

    // The preference key of today's clean count.
    [[nodiscard]] std::string todayKey() const;

private:
    bool processURL(std::string_view text);
    bool handleOutcome(const CleanOutcome& outcome);
    bool handleCommandRiskIfNeeded(const std::string& text);
    void recordClean(const CleanResult& result);
    void recordPendingShareLink(const CleanResult& result);
    // Back on the main thread with the outcome of the resolution started when the clipboard's change
    // count was `startChangeCount`.
    void finishShareLinkResolution(const std::string& originalURL, std::int64_t startChangeCount,
                                   const ShareLinkResolution& resolution);
    // The one way the monitor writes to the clipboard: the write is remembered as its own, so the
    // next tick does not process it.
    void writeToClipboard(std::string_view text);
    // The clipboard's text, unless it has none, is concealed or is longer than maximumTextBytes.
    [[nodiscard]] std::optional<std::string> readableText() const;
    void setLastCleanedResult(std::optional<CleanResult> result);
    void setLastCommandRisk(std::optional<CommandRiskResult> risk);
    void storeSwitch(std::string_view key, bool value, bool& field, Property property);
    template <typename T>
    void assign(T& field, T value, Property property);

    Services services_;
    bool isEnabled_ = true;
    std::optional<CleanResult> lastCleanedResult_;
    std::optional<std::string> lastSkippedDomain_;
    std::vector<std::string> unknownParameters_;
    std::optional<CommandRiskResult> lastCommandRisk_;
    std::int64_t cleanedCountToday_ = 0;
    // The key cleanedCountToday_ was counted under.
    std::string countKey_;
    bool isCommandGuardEnabled_ = true;
    CommandRiskSeverity commandGuardThreshold_ = CommandRiskSeverity::warning;
    bool shouldNeutralizeRiskyCommands_ = false;
    bool automaticShareLinkResolutionEnabled_ = false;
    bool isResolvingShareLink_ = false;
    std::optional<std::string> shareLinkResolutionError_;
    CommandGuard commandGuard_;
    std::optional<ScopedConnection> timer_;
    std::int64_t lastChangeCount_;
    std::int64_t ownWriteChangeCount_ = -1;
    // A resolution finishing after the monitor is gone finds this expired and does nothing.
    std::shared_ptr<int> liveness_ = std::make_shared<int>(0);
    Signal<Property> changed_;
};

}  // namespace tessaril
