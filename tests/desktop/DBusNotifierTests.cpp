// SPDX-License-Identifier: GPL-3.0-or-later
// The notifier against a notification service of the test's own, on a private session bus
// (run-under-x11.sh starts one).
#include "platform/notifications_dbus/DBusNotifier.h"
#include "tests/desktop/QtEventLoop.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <string>
#include <vector>

namespace tessaril {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

// Owns the service's name on a connection of its own and records each banner it is sent.
class FakeNotificationService final : public QDBusVirtualObject {
public:
    struct Banner {
        std::string app;
        uint replaces;
        std::string title;
        std::string body;
        uint id;
    };

    explicit FakeNotificationService(QStringList capabilities)
        : capabilities_(std::move(capabilities)),
          bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notifications"))) {
        bus_.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), this);
        bus_.registerService(kService);
    }
    ~FakeNotificationService() override {
        bus_.unregisterService(kService);
        bus_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-notifications"));
    }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QStringLiteral("GetCapabilities")) {
            ++capabilityRequests;
            return connection.send(message.createReply(QVariant(capabilities_)));
        }
        const QVariantList a = message.arguments();
        if (message.member() != QStringLiteral("Notify") || a.size() != 8) return false;
        const uint replaces = a[1].toUInt();
        banners.push_back({a[0].toString().toStdString(), replaces, a[3].toString().toStdString(),
                           a[4].toString().toStdString(), replaces ? replaces : nextId_++});
        return connection.send(message.createReply(QVariant(banners.back().id)));
    }

    std::vector<Banner> banners;
    int capabilityRequests = 0;

private:
    QStringList capabilities_;
    QDBusConnection bus_;
    uint nextId_ = 7;
};

TEST(DBusNotifier, AvailableOnlyToTheTrayApplicationWhenTheServiceIsOnTheBus) {
    const DBusNotifier app(true);
    EXPECT_FALSE(app.isAvailable());
    const FakeNotificationService service({});
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
    FakeNotificationService service(capabilities);
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
