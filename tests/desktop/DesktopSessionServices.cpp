// SPDX-License-Identifier: GPL-3.0-or-later
// The two desktop services the application talks to, as small as a test can have them, for the
// application tests on a private session bus: DesktopSessionServices [--tray] [--notifications].
// --tray owns the StatusNotifierItem watcher (with a host registered, so Qt shows its icon there and
// publishes the menu over D-Bus); --notifications owns the freedesktop notification service. Each
// event is one line on standard output: "item SERVICE" when an icon registers, and
// "notification APP<TAB>TITLE<TAB>BODY" for each banner.
#include "tests/desktop/FakeNotificationService.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <cstdio>
#include <optional>
#include <string_view>

namespace {

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Answers org.freedesktop.DBus.Properties for a fixed set of values.
bool answerProperties(const QDBusMessage& message, const QDBusConnection& bus, const QVariantMap& values) {
    if (message.member() == QLatin1String("GetAll")) return bus.send(message.createReply(values));
    if (message.member() != QLatin1String("Get") || message.arguments().size() != 2) return false;
    const QString name = message.arguments().at(1).toString();
    if (!values.contains(name)) {
        return bus.send(message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"), name));
    }
    return bus.send(message.createReply(QVariant::fromValue(QDBusVariant(values.value(name)))));
}

class TrayWatcher final : public QDBusVirtualObject {
public:
    QString introspect(const QString& /*path*/) const override {
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>"
            "<signal name=\"StatusNotifierItemUnregistered\"><arg type=\"s\"/></signal>"
            "<signal name=\"StatusNotifierHostRegistered\"/>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
            return answerProperties(message, bus,
                                    {{QStringLiteral("RegisteredStatusNotifierItems"), items_},
                                     {QStringLiteral("IsStatusNotifierHostRegistered"), true},
                                     {QStringLiteral("ProtocolVersion"), 0}});
        }
        if (message.member() == QLatin1String("RegisterStatusNotifierHost")) {
            return bus.send(message.createReply());
        }
        if (message.member() != QLatin1String("RegisterStatusNotifierItem") || message.arguments().isEmpty()) {
            return false;
        }
        // An item names either its bus name or, as Qt does, its object path on the caller's name.
        QString item = message.arguments().at(0).toString();
        if (item.startsWith(QLatin1Char('/'))) item = message.service();
        items_.append(item);
        say(QStringLiteral("item ") + item);
        return bus.send(message.createReply());
    }

private:
    QStringList items_;
};

bool serve(QDBusConnection& bus, const QString& service, const QString& path, QDBusVirtualObject& object) {
    return bus.registerVirtualObject(path, &object) && bus.registerService(service);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "DesktopSessionServices: no session bus\n");
        return 1;
    }
    TrayWatcher watcher;
    std::optional<tessaril::testing::FakeNotificationService> notifications;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--notifications") {
            notifications.emplace(bus, QStringList{QStringLiteral("body")}, [](const auto& banner) {
                say(QString::fromStdString("notification " + banner.app + "\t" + banner.title + "\t" + banner.body));
            });
        }
        const bool ok = option == "--tray"            ? serve(bus, QStringLiteral("org.kde.StatusNotifierWatcher"),
                                                              QStringLiteral("/StatusNotifierWatcher"), watcher)
                        : option == "--notifications" ? notifications->owned()
                                                      : false;
        if (!ok) {
            std::fprintf(stderr, "DesktopSessionServices: cannot serve %s\n", argv[i]);
            return 1;
        }
    }
    say(QStringLiteral("ready"));
    return QCoreApplication::exec();
}
