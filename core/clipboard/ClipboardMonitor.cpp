// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/clipboard/ClipboardMonitor.h"

#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/UnknownParameterDetector.h"
#include "core/clipboard/LastCleanRecord.h"
#include "core/clipboard/LastCleanRecorder.h"
#include "core/foundation/Clock.h"
#include "core/foundation/Dates.h"
#include "core/foundation/Pasteboard.h"
#include "core/foundation/TaskExecutor.h"
#include "core/foundation/Text.h"
#include "core/foundation/UserDefaults.h"
#include "core/notifications/NotificationManager.h"
#include "core/preferences/ProactivePreferences.h"
#include "core/stats/StatsTracker.h"
#include "core/stores/DomainExceptionStore.h"
#include "core/transform/ShareLinkResolutionPolicy.h"

#include <utility>

#include <nlohmann/json.hpp>

namespace tessaril {
namespace {

// A record stored as JSON text; nothing when it is absent or does not decode.
template <typename Record>
std::optional<Record> decodeStored(const UserDefaults& defaults, std::string_view key) {
    auto text = defaults.dataText(key);
    if (!text) return std::nullopt;
    auto json = nlohmann::json::parse(*text, nullptr, false);
    if (json.is_discarded()) return std::nullopt;
    return Record::fromJson(json);
}

// A record that cannot be encoded (text that is not UTF-8) is not stored; what is in memory stays.
void storeEncoded(UserDefaults& defaults, std::string_view key, const nlohmann::ordered_json& json) {
    std::string text;
    try {
        text = json.dump();
    } catch (const nlohmann::json::exception&) {
        return;
    }
    defaults.setDataText(key, text);
}

}  // namespace

ClipboardMonitor::ClipboardMonitor(Services services)
    : services_(std::move(services)),
      commandGuard_(services_.makeCommandGuard()),
      lastChangeCount_(services_.pasteboard.changeCount()) {
    const UserDefaults& defaults = services_.defaults;
    if (defaults.objectExists(commandGuardEnabledKey))
        isCommandGuardEnabled_ = defaults.boolValue(commandGuardEnabledKey).value_or(false);
    // Exactly one of the three raw values; another spelling ("Danger") is not one of them.
    commandGuardThreshold_ =
        commandRiskSeverityFromRawValue(defaults.stringValue(commandGuardThresholdKey).value_or(""))
            .value_or(CommandRiskSeverity::warning);
    shouldNeutralizeRiskyCommands_ = defaults.boolValue(commandGuardNeutralizeKey).value_or(false);
    automaticShareLinkResolutionEnabled_ = defaults.boolValue(automaticShareLinkResolutionKey).value_or(false);
    countKey_ = todayKey();
    cleanedCountToday_ = defaults.intValue(countKey_).value_or(0);
    lastCleanedResult_ = decodeStored<CleanResult>(defaults, lastCleanedResultKey);

    // A warning outlives a restart only while the clipboard still holds a text the guard flags.
    const auto text = readableText();
    if (!text || !commandGuard_.analyze(*text, commandGuardThreshold_)) services_.defaults.remove(lastCommandRiskKey);
    lastCommandRisk_ = decodeStored<CommandRiskResult>(defaults, lastCommandRiskKey);
}

ClipboardMonitor::~ClipboardMonitor() {
    services_.pasteboard.onChange({});
}

template <typename T>
void ClipboardMonitor::assign(T& field, T value, Property property) {
    // Every setting is announced, also of the same value: a second link of one skipped site is news.
    field = std::move(value);
    changed_.emit(property);
}

std::int64_t ClipboardMonitor::cleanedCountToday() const {
    const auto key = todayKey();
    if (key == countKey_) return cleanedCountToday_;
    return services_.defaults.intValue(key).value_or(0);
}

bool ClipboardMonitor::hasPendingShareLinkResolution() const {
    return lastCleanedResult_ && ShareLinkResolutionPolicy::service(lastCleanedResult_->cleanedURL).has_value();
}

void ClipboardMonitor::setEnabled(bool enabled) {
    assign(isEnabled_, enabled, Property::isEnabled);
}

void ClipboardMonitor::storeSwitch(std::string_view key, bool value, bool& field, Property property) {
    services_.defaults.set(key, value);
    assign(field, value, property);
}

void ClipboardMonitor::setCommandGuardEnabled(bool enabled) {
    storeSwitch(commandGuardEnabledKey, enabled, isCommandGuardEnabled_, Property::isCommandGuardEnabled);
}

void ClipboardMonitor::setShouldNeutralizeRiskyCommands(bool neutralize) {
    storeSwitch(commandGuardNeutralizeKey, neutralize, shouldNeutralizeRiskyCommands_,
                Property::shouldNeutralizeRiskyCommands);
}

void ClipboardMonitor::setAutomaticShareLinkResolutionEnabled(bool enabled) {
    storeSwitch(automaticShareLinkResolutionKey, enabled, automaticShareLinkResolutionEnabled_,
                Property::automaticShareLinkResolutionEnabled);
}

void ClipboardMonitor::setCommandGuardThreshold(CommandRiskSeverity threshold) {
    services_.defaults.set(commandGuardThresholdKey, std::string(rawValue(threshold)));
    assign(commandGuardThreshold_, threshold, Property::commandGuardThreshold);
}

void ClipboardMonitor::start() {
    // The monitor owns the timer's connection, so a monitor that is gone is never ticked.
    timer_ = services_.executor.scheduleRepeating(pollInterval, [this] { checkClipboard(); });
    // A clipboard that announces its changes gets them looked at at once, so a link copied and
    // pasted within one interval still pastes clean; the timer stays for those that do not.
    services_.pasteboard.onChange([&executor = services_.executor, alive = std::weak_ptr<int>(liveness_), this] {
        executor.postToMain([alive, this] {
            if (!alive.expired()) checkClipboard();
        });
    });
}

void ClipboardMonitor::stop() {
    timer_.reset();
    services_.pasteboard.onChange({});
}

void ClipboardMonitor::checkClipboard() {
    const auto changeCount = services_.pasteboard.changeCount();
    if (changeCount == lastChangeCount_) return;
    lastChangeCount_ = changeCount;
    clearUnknownParameters();
    if (changeCount == ownWriteChangeCount_) return;

    const auto text = readableText();
    if (!text) return;
    if (handleCommandRiskIfNeeded(*text)) return;
    // Any other change ends the last warning: the risky command is no longer on the clipboard.
    clearLastCommandRisk();
    if (isEnabled_) processURL(*text);
}

void ClipboardMonitor::cleanNow() {
    clearUnknownParameters();
    if (const auto text = readableText()) processURL(*text);
}

std::optional<std::string> ClipboardMonitor::readableText() const {
    if (services_.pasteboard.isConcealed()) return std::nullopt;
    auto text = services_.pasteboard.plainText();
    if (text && text->size() > maximumTextBytes) return std::nullopt;
    return text;
}

void ClipboardMonitor::writeToClipboard(std::string_view text) {
    services_.pasteboard.clear();
    services_.pasteboard.writePlainText(text);
    ownWriteChangeCount_ = services_.pasteboard.changeCount();
    lastChangeCount_ = ownWriteChangeCount_;
}

bool ClipboardMonitor::processURL(std::string_view text) {
    clearUnknownParameters();
    const CleanOutcome outcome = services_.urlCleaner.cleanWithOutcome(text);
    const CleanResult* result = outcome.result();
    if (result && services_.lastCleanRecorder)
        services_.lastCleanRecorder->record(result->originalURL, result->cleanedURL,
                                            std::string(LastCleanRecord::clipboardSurface));
    if (outcome.kind() == CleanOutcome::Kind::skippedDisabled || outcome.kind() == CleanOutcome::Kind::invalid)
        return handleOutcome(outcome);

    const std::string candidate = result ? result->cleanedURL : std::string(text::trim(text));
    if (ProactivePreferences(services_.defaults).unknownAlerts())
        assign(unknownParameters_, UnknownParameterDetector::inspect(candidate), Property::unknownParameters);
    if (!ShareLinkResolutionPolicy::service(candidate)) return handleOutcome(outcome);

    // A share link waits, cleaned locally, for its resolution; it is counted once resolved.
    if (result) {
        writeToClipboard(result->cleanedURL);
        recordPendingShareLink(*result);
    } else {
        CleanResult asCopied;
        asCopied.originalURL = candidate;
        asCopied.cleanedURL = candidate;
        recordPendingShareLink(asCopied);
    }
    if (automaticShareLinkResolutionEnabled_) resolvePendingShareLink();
    return true;
}

bool ClipboardMonitor::handleOutcome(const CleanOutcome& outcome) {
    switch (outcome.kind()) {
        case CleanOutcome::Kind::cleaned:
            assign(lastSkippedDomain_, std::optional<std::string>(), Property::lastSkippedDomain);
            writeToClipboard(outcome.result()->cleanedURL);
            recordClean(*outcome.result());
            return true;
        case CleanOutcome::Kind::skippedDisabled:
            assign(lastSkippedDomain_, std::optional<std::string>(*outcome.host()), Property::lastSkippedDomain);
            return true;
        case CleanOutcome::Kind::unchanged:
        case CleanOutcome::Kind::invalid:
            break;
    }
    assign(lastSkippedDomain_, std::optional<std::string>(), Property::lastSkippedDomain);
    return false;
}

void ClipboardMonitor::setLastCleanedResult(std::optional<CleanResult> result) {
    assign(lastCleanedResult_, std::move(result), Property::lastCleanedResult);
    if (lastCleanedResult_)
        storeEncoded(services_.defaults, lastCleanedResultKey, lastCleanedResult_->toJson());
    else
        services_.defaults.remove(lastCleanedResultKey);
}

void ClipboardMonitor::setLastCommandRisk(std::optional<CommandRiskResult> risk) {
    assign(lastCommandRisk_, std::move(risk), Property::lastCommandRisk);
    if (lastCommandRisk_)
        storeEncoded(services_.defaults, lastCommandRiskKey, lastCommandRisk_->toJson());
    else
        services_.defaults.remove(lastCommandRiskKey);
}

void ClipboardMonitor::recordClean(const CleanResult& result) {
    setLastCleanedResult(result);
    // The count belongs to the calendar day: after midnight it goes on from the new day's count.
    const auto key = todayKey();
    const auto counted = key == countKey_ ? cleanedCountToday_ : services_.defaults.intValue(key).value_or(0);
    countKey_ = key;
    cleanedCountToday_ = counted + 1;
    changed_.emit(Property::cleanedCountToday);
    services_.defaults.set(key, cleanedCountToday_);
    services_.statsTracker.recordClean(result);
    services_.notificationManager.sendCleanNotification(result);
}

void ClipboardMonitor::recordPendingShareLink(const CleanResult& result) {
    setLastCleanedResult(result);
    assign(lastSkippedDomain_, std::optional<std::string>(), Property::lastSkippedDomain);
    assign(shareLinkResolutionError_, std::optional<std::string>(), Property::shareLinkResolutionError);
}

bool ClipboardMonitor::handleCommandRiskIfNeeded(const std::string& text) {
    if (!isCommandGuardEnabled_) return false;
    auto risk = commandGuard_.analyze(text, commandGuardThreshold_);
    if (!risk) return false;
    if (!shouldNeutralizeRiskyCommands_) {
        setLastCommandRisk(risk);
        services_.statsTracker.recordCommandRisk(*risk, false);
        services_.notificationManager.sendCommandWarningNotification(*risk, false);
        return true;
    }
    writeToClipboard(CommandGuard::neutralizedCommand(text));
    services_.statsTracker.recordCommandRisk(*risk, true);
    services_.notificationManager.sendCommandWarningNotification(*risk, true);
    // The clipboard no longer holds the command, so there is nothing left to warn about.
    clearLastCommandRisk();
    return true;
}

void ClipboardMonitor::resolvePendingShareLink() {
    if (isResolvingShareLink_ || !hasPendingShareLinkResolution()) return;
    assign(isResolvingShareLink_, true, Property::isResolvingShareLink);
    assign(shareLinkResolutionError_, std::optional<std::string>(), Property::shareLinkResolutionError);
    ShareLinkResolver::resolve(services_.network, services_.executor, lastCleanedResult_->cleanedURL,
                               [this, alive = std::weak_ptr<int>(liveness_), original = lastCleanedResult_->originalURL,
                                start = services_.pasteboard.changeCount()](const ShareLinkResolution& resolution) {
                                   if (alive.expired()) return;
                                   finishShareLinkResolution(original, start, resolution);
                               });
}

void ClipboardMonitor::finishShareLinkResolution(const std::string& originalURL, std::int64_t startChangeCount,
                                                 const ShareLinkResolution& resolution) {
    assign(isResolvingShareLink_, false, Property::isResolvingShareLink);
    if (const auto* error = std::get_if<ShareLinkResolutionError>(&resolution)) {
        const auto text = description(*error);
        assign(shareLinkResolutionError_, std::optional<std::string>(text.empty() ? shareLinkFailureText : text),
               Property::shareLinkResolutionError);
        return;
    }
    // What the user copied while the request was out wins over its late answer; the link stays
    // pending for another try.
    if (services_.pasteboard.changeCount() != startChangeCount) return;
    const auto& resolved = std::get<ResolvedShareLink>(resolution);
    // Cleaned here rather than in the background: the cleaner and its engine belong to the main thread.
    const CleanResult result =
        services_.urlCleaner.resultAfterNetworkResolution(originalURL, resolved.canonicalURL, resolved.contactedHost);
    writeToClipboard(result.cleanedURL);
    if (services_.lastCleanRecorder)
        services_.lastCleanRecorder->record(result.originalURL, result.cleanedURL,
                                            std::string(LastCleanRecord::networkResolutionSurface));
    recordClean(result);
}

bool ClipboardMonitor::restoreLastOriginal() {
    if (!services_.lastCleanRecorder) return false;
    const auto record = services_.lastCleanRecorder->takeAndClear();
    if (!record) return false;
    writeToClipboard(record->originalURL);
    setLastCleanedResult(std::nullopt);
    return true;
}

std::optional<std::string> ClipboardMonitor::disableLastDomain() {
    DomainExceptionStore* exceptions = services_.urlCleaner.exceptionStore();
    LastCleanRecorder* recorder = services_.lastCleanRecorder;
    if (!exceptions || !recorder) return std::nullopt;
    const auto record = recorder->current();
    if (!record) return std::nullopt;
    auto host = DomainExceptionStore::normalizedHost(record->originalURL);
    if (!host) return std::nullopt;
    (void)exceptions->disable(*host);
    // The site is no longer cleaned, so its last clean is no longer offered for undo.
    recorder->clear();
    return host;
}

void ClipboardMonitor::clearLastCommandRisk() {
    setLastCommandRisk(std::nullopt);
}

void ClipboardMonitor::clearUnknownParameters() {
    assign(unknownParameters_, std::vector<std::string>(), Property::unknownParameters);
}

void ClipboardMonitor::recordFunctionalTransformation(const CleanOperation& operation) {
    if (operation.kind != CleanOperationKind::functionalTransformation || operation.networkUsed) return;
    if (!lastCleanedResult_) return;
    setLastCleanedResult(lastCleanedResult_->appendingOperation(operation));
}

void ClipboardMonitor::reloadCommandGuard() {
    commandGuard_ = services_.makeCommandGuard();
    changed_.emit(Property::commandGuard);
}

std::string ClipboardMonitor::todayKey() const {
    return std::string(cleanedCountPrefix) + formatDay(services_.clock.now(), services_.clock.timeZoneIdentifier());
}

}  // namespace tessaril
