// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/desktop/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <utility>

namespace tessaril {

namespace {

constexpr QLatin1StringView kPath("/org/tessaril/Tessaril");
constexpr QLatin1StringView kInterface("org.tessaril.Tessaril");
constexpr QLatin1StringView kMethod("OpenPreferences");
// How long a later instance waits for the running one to answer before it ends anyway.
constexpr int kCallTimeoutMs = 5000;

}  // namespace

SingleInstance::SingleInstance(std::function<void()> openPreferences, QDBusConnection bus, QString name)
    : openPreferences_(std::move(openPreferences)), bus_(std::move(bus)), name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
    if (!owner_) return;
    bus_.unregisterObject(kPath);
    bus_.unregisterService(name_);
}

SingleInstance::Claim SingleInstance::claim() {
    QDBusConnectionInterface* daemon = bus_.isConnected() ? bus_.interface() : nullptr;
    if (daemon == nullptr) return Claim::Unenforced;
    // The object goes up before the name, so no caller that finds the name misses the object.
    if (!bus_.registerVirtualObject(kPath, this)) return Claim::Unenforced;
    const auto registered = daemon->registerService(name_, QDBusConnectionInterface::DontQueueService,
                                                    QDBusConnectionInterface::DontAllowReplacement);
    if (registered.isValid() && registered.value() == QDBusConnectionInterface::ServiceRegistered) {
        owner_ = true;
        return Claim::First;
    }
    bus_.unregisterObject(kPath);
    if (!registered.isValid()) return Claim::Unenforced;
    // Whether or not the running instance answers in time, it is there: this one ends.
    bus_.call(QDBusMessage::createMethodCall(name_, kPath, kInterface, kMethod), QDBus::Block, kCallTimeoutMs);
    return Claim::AlreadyRunning;
}

QString SingleInstance::introspect(const QString&) const {
    return QStringLiteral("<interface name=\"org.tessaril.Tessaril\"><method name=\"OpenPreferences\"/></interface>");
}

bool SingleInstance::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.type() != QDBusMessage::MethodCallMessage || message.member() != kMethod ||
        (!message.interface().isEmpty() && message.interface() != kInterface))
        return false;
    connection.send(message.createReply());
    if (openPreferences_) openPreferences_();
    return true;
}

}  // namespace tessaril
