// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/notifications/NotificationManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/cleaning/CleanResult.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/guard/CommandRiskResult.h"
#include "tests/support/CaseTable.h"

namespace tessaril {
namespace {

CleanResult removed(std::int64_t count, std::vector<std::string> names) {
    CleanResult result;
    result.paramsRemoved = count;
    result.removedQueryParameters = std::move(names);
    return result;
}

CleanResult resolvedThrough(std::optional<std::string> host, std::int64_t removedCount) {
    CleanResult result = removed(removedCount, {"igsh"});
    CleanOperation resolution;
    resolution.kind = CleanOperationKind::networkResolution;
    resolution.contactedHost = std::move(host);
    result.operations = {CleanOperation{}, resolution};
    return result;
}

CleanResult rewritten(std::int64_t removedCount) {
    CleanResult result =
        removed(removedCount, removedCount > 0 ? std::vector<std::string>{"s"} : std::vector<std::string>{});
    result.privacyRedirect = PrivacyRedirectInfo{PrivacyRedirectService::xTwitter, "x.com", "xcancel.com"};
    return result;
}

TEST(NotificationManagerTest, CleanBodies) {
    const auto cases = testing::readCases("notifications/clean-bodies.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const auto& done = row[0];
        const std::int64_t count = row[1];
        const CleanResult result = done[0] == "removed" ? removed(count, done[1].get<std::vector<std::string>>())
                                   : done[0] == "resolved through" ? resolvedThrough(done[1].get<std::string>(), count)
                                                                   : rewritten(count);
        EXPECT_EQ(NotificationManager::notificationBody(result), row[2].get<std::string>()) << row;
    }
}

TEST(NotificationManagerTest, SwitchesAndAvailabilityDecideWhichBannersAppear) {
    InMemoryUserDefaults defaults;
    defaults.set(NotificationManager::enabledKey, false);
    defaults.set(NotificationManager::commandWarningsEnabledKey, std::int64_t{0});  // not a Boolean: on
    RecordingNotifier notifier;
    NotificationManager manager(defaults, &notifier);
    manager.requestPermission();
    EXPECT_EQ(notifier.permissionRequests(), 1U);

    CommandRiskResult risky;
    risky.findings.emplace_back().summary = "Downloads a script and runs it.";
    manager.sendCleanNotification(removed(1, {"a"}));
    manager.sendCommandWarningNotification(risky, true);
    manager.sendCommandWarningNotification(CommandRiskResult{});
    ASSERT_EQ(notifier.shown().size(), 2U);
    EXPECT_EQ(notifier.shown()[0].title, "Risky command neutralized");
    EXPECT_EQ(notifier.shown()[0].body, "Downloads a script and runs it. Clipboard replaced with commented text.");
    EXPECT_EQ(notifier.shown()[1].title, "Risky command copied");
    EXPECT_EQ(notifier.shown()[1].body, "Tessaril found a risky terminal command pattern.");

    // Two cleans stack; two release notices leave the newer one, whatever the switches say.
    manager.setEnabled(true);
    manager.setCommandWarningsEnabled(false);
    manager.sendCommandWarningNotification(risky);
    manager.sendCleanNotification(removed(1, {"a"}));
    manager.sendCleanNotification(removed(1, {"a"}));
    manager.sendUpdateNotification("Tessaril 2.1 is available.");
    manager.sendUpdateNotification("Tessaril 2.2 is available.");
    ASSERT_EQ(notifier.shown().size(), 5U);
    EXPECT_EQ(notifier.shown()[2].title, "URL Cleaned");
    EXPECT_NE(notifier.shown()[2].identifier, notifier.shown()[3].identifier);
    EXPECT_EQ(
        notifier.shown()[4],
        (Notification{"tessaril-app-update", "Tessaril update available",
                      "Tessaril 2.2 is available. Open Preferences to review. Nothing was downloaded or installed."}));
    const NotificationManager reloaded(defaults, nullptr);
    EXPECT_TRUE(reloaded.isEnabled());
    EXPECT_FALSE(reloaded.areCommandWarningsEnabled());

    // Outside the application (or where the desktop offers no banners) nothing reaches the service.
    RecordingNotifier unavailable(false);
    for (Notifier* absent : {static_cast<Notifier*>(&unavailable), static_cast<Notifier*>(nullptr)}) {
        NotificationManager outside(defaults, absent);
        outside.requestPermission();
        outside.sendCommandWarningNotification(CommandRiskResult{}, true);
        outside.sendUpdateNotification("New.");
        outside.sendCleanNotification(removed(1, {"a"}));
    }
    EXPECT_EQ(unavailable.calls(), 0U);
}

}  // namespace
}  // namespace tessaril
