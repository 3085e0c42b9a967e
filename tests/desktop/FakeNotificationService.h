// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QStringList>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tessaril::testing {

// The freedesktop notification service, as small as a test can have it: it owns the service's name
// on `bus` while it lives, shows nothing, and records each banner it is sent.
class FakeNotificationService final : public QDBusVirtualObject {
public:
    struct Banner {
        std::string app;
        uint replaces;
        std::string title;
        std::string body;
        uint id;
    };

    FakeNotificationService(QDBusConnection bus, QStringList capabilities,
                            std::function<void(const Banner&)> onBanner = {})
        : bus_(std::move(bus)), capabilities_(std::move(capabilities)), onBanner_(std::move(onBanner)) {
        owned_ = bus_.registerVirtualObject(kPath, this) && bus_.registerService(kService);
    }
    ~FakeNotificationService() override {
        bus_.unregisterService(kService);
        bus_.unregisterObject(kPath);
    }
    FakeNotificationService(const FakeNotificationService&) = delete;
    FakeNotificationService& operator=(const FakeNotificationService&) = delete;

    [[nodiscard]] bool owned() const { return owned_; }

    QString introspect(const QString& /*path*/) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const QString member = message.member();
        if (member == QLatin1String("GetCapabilities")) {
            ++capabilityRequests;
            return bus.send(message.createReply(QVariant(capabilities_)));
        }
        if (member == QLatin1String("GetServerInformation")) {
            return bus.send(message.createReply(QVariantList{QStringLiteral("test"), QStringLiteral("tessaril"),
                                                             QStringLiteral("1"), QStringLiteral("1.2")}));
        }
        if (member == QLatin1String("CloseNotification")) return bus.send(message.createReply());
        const QVariantList a = message.arguments();
        if (member != QLatin1String("Notify") || a.size() != 8) return false;
        const uint replaces = a[1].toUInt();
        banners.push_back({a[0].toString().toStdString(), replaces, a[3].toString().toStdString(),
                           a[4].toString().toStdString(), replaces != 0 ? replaces : ++lastId_});
        if (onBanner_) onBanner_(banners.back());
        return bus.send(message.createReply(QVariant(banners.back().id)));
    }

    std::vector<Banner> banners;
    int capabilityRequests = 0;

private:
    inline static const QString kService = QStringLiteral("org.freedesktop.Notifications");
    inline static const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

    QDBusConnection bus_;
    QStringList capabilities_;
    std::function<void(const Banner&)> onBanner_;
    bool owned_ = false;
    uint lastId_ = 0;
};

}  // namespace tessaril::testing
