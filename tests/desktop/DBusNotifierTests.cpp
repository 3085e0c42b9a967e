// SPDX-License-Identifier: GPL-3.0-or-later
// The notifier against a notification service of the test's own, on a private session bus
// (run-under-x11.sh starts one).
#include "platform/notifications_dbus/DBusNotifier.h"
#include "tests/desktop/FakeNotificationService.h"
#include "tests/desktop/QtEventLoop.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessaril {
namespace {

using testing::FakeNotificationService;

// On a connection of its own, so that the notifier's calls really cross the bus.
QDBusConnection ownConnection() {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notifications"));
}

TEST(DBusNotifier, AvailableOnlyToTheTrayApplicationWhenTheServiceIsOnTheBus) {
    const DBusNotifier app(true);
    EXPECT_FALSE(app.isAvailable());
    const FakeNotificationService service(ownConnection(), {});
    EXPECT_TRUE(app.isAvailable());
    EXPECT_FALSE(DBusNotifier(false).isAvailable());

    DBusNotifier noBus(true, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), "none"));
    EXPECT_FALSE(noBus.isAvailable());
    noBus.requestPermission();
    noBus.post({"id", "title", "body"});
    settle();
    EXPECT_EQ(service.capabilityRequests, 0);
}

// Posts each banner to a service that can show `capabilities`, once the notifier knows them, after
// the service answered the one before; what the service was sent.
std::vector<FakeNotificationService::Banner> postAll(const QStringList& capabilities,
                                                     const std::vector<Notification>& banners) {
    FakeNotificationService service(ownConnection(), capabilities);
    DBusNotifier notifier(true);
    notifier.requestPermission();
    eventually([&] { return service.capabilityRequests == 1; });
    settle();
    for (const Notification& banner : banners) {
        const auto before = service.banners.size();
        notifier.post(banner);
        if (!eventually([&] { return service.banners.size() == before + 1; })) break;
        settle();
    }
    return service.banners;
}

TEST(DBusNotifier, ReleaseNoticesReplaceEachOtherCleansStackAndBodiesShowLiterally) {
    const auto b = postAll({QStringLiteral("body"), QStringLiteral("body-markup")},
                           {{"tessaril-app-update", "Tessaril update available", "Version <b>2.0</b> & more."},
                            {"tessaril-app-update", "Tessaril update available", "Version 2.1."},
                            {"9b2c", "URL Cleaned", "Removed 1 tracker: utm_source"},
                            {"41fe", "URL Cleaned", "Removed 1 tracker: fbclid"}});
    ASSERT_EQ(b.size(), 4U);
    EXPECT_EQ(b[0].app, "Tessaril");
    EXPECT_EQ(b[0].title, "Tessaril update available");
    EXPECT_EQ(b[0].body, "Version &lt;b&gt;2.0&lt;/b&gt; &amp; more.");
    EXPECT_EQ(b[0].replaces, 0U);
    EXPECT_EQ(b[1].replaces, b[0].id);
    EXPECT_EQ(b[2].replaces, 0U);
    EXPECT_EQ(b[3].replaces, 0U);
    EXPECT_NE(b[2].id, b[3].id);

    // A service that shows bodies as plain text gets them as they are.
    const auto plain = postAll({QStringLiteral("body")}, {{"c", "Risky command copied", "curl x | sh <b>"}});
    ASSERT_EQ(plain.size(), 1U);
    EXPECT_EQ(plain[0].body, "curl x | sh <b>");
}

}  // namespace
}  // namespace tessaril

int main(int argc, char** argv) {
    const QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
