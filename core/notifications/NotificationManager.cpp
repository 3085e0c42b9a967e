// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/notifications/NotificationManager.h"

#include "core/cleaning/CleanResult.h"
#include "core/foundation/Dates.h"
#include "core/foundation/Text.h"
#include "core/guard/CommandRiskResult.h"
#include "core/transform/ShareLinkService.h"

#include <algorithm>
#include <string>
#include <utility>

namespace tessaril {

namespace {

// The service a share link was resolved through, named after the host that was asked.
std::string_view resolvedServiceName(const CleanOperation& resolution) {
    const std::string host = text::toLower(resolution.contactedHost.value_or(""));
    if (host.find("threads") != std::string::npos) return "Threads";
    if (host.find("reddit") != std::string::npos || host.find(kRedditShortLinkHost) != std::string::npos)
        return "Reddit";
    return "Instagram";
}

}  // namespace

NotificationManager::NotificationManager(UserDefaults& defaults, Notifier* notifier)
    : defaults_(defaults),
      notifier_(notifier),
      isEnabled_(defaults.boolValue(enabledKey).value_or(true)),
      areCommandWarningsEnabled_(defaults.boolValue(commandWarningsEnabledKey).value_or(true)) {}

void NotificationManager::setEnabled(bool enabled) {
    isEnabled_ = enabled;
    defaults_.set(enabledKey, enabled);
    switchesChanged_.emit();
}

void NotificationManager::setCommandWarningsEnabled(bool enabled) {
    areCommandWarningsEnabled_ = enabled;
    defaults_.set(commandWarningsEnabledKey, enabled);
    switchesChanged_.emit();
}

Notifier* NotificationManager::availableNotifier() const {
    return notifier_ != nullptr && notifier_->isAvailable() ? notifier_ : nullptr;
}

void NotificationManager::requestPermission() {
    if (Notifier* notifier = availableNotifier()) notifier->requestPermission();
}

void NotificationManager::sendCleanNotification(const CleanResult& result) {
    Notifier* notifier = availableNotifier();
    if (notifier == nullptr || !isEnabled_) return;
    notifier->post({makeUuid(), "URL Cleaned", notificationBody(result)});
}

void NotificationManager::sendCommandWarningNotification(const CommandRiskResult& result, bool neutralized) {
    Notifier* notifier = availableNotifier();
    if (notifier == nullptr || !areCommandWarningsEnabled_) return;
    const auto finding = result.primaryFinding();
    std::string body = finding ? finding->summary : "Tessaril found a risky terminal command pattern.";
    if (neutralized) body += " Clipboard replaced with commented text.";
    notifier->post({makeUuid(), neutralized ? "Risky command neutralized" : "Risky command copied", std::move(body)});
}

void NotificationManager::sendUpdateNotification(std::string_view text) {
    Notifier* notifier = availableNotifier();
    if (notifier == nullptr) return;
    std::string body(text);
    body += " Open Preferences to review. Nothing was downloaded or installed.";
    notifier->post({std::string(updateNotificationIdentifier), "Tessaril update available", std::move(body)});
}

std::string NotificationManager::notificationBody(const CleanResult& result) {
    const auto resolution =
        std::ranges::find(result.operations, CleanOperationKind::networkResolution, &CleanOperation::kind);
    if (resolution != result.operations.end())
        return "Resolved direct " + std::string(resolvedServiceName(*resolution)) + " link";
    if (result.privacyRedirect && result.paramsRemoved == 0) {
        return "Rewritten for privacy: " + result.privacyRedirect->originalHost + " \u2192 " +
               result.privacyRedirect->frontendHost;
    }
    std::string body =
        "Removed " + std::to_string(result.paramsRemoved) + (result.paramsRemoved == 1 ? " tracker" : " trackers");
    const auto& names = result.removedQueryParameters;
    if (names.empty()) return body;
    body += ": " + names[0];
    if (names.size() > 1) body += ", " + names[1];
    if (names.size() > 2) body += ", +" + std::to_string(names.size() - 2) + " more";
    return body;
}

}  // namespace tessaril
