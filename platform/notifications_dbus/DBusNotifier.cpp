// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/notifications_dbus/DBusNotifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

#include <algorithm>

namespace tessaril {

namespace {

constexpr QLatin1StringView kService("org.freedesktop.Notifications");
constexpr QLatin1StringView kPath("/org/freedesktop/Notifications");
constexpr QLatin1StringView kInterface("org.freedesktop.Notifications");
constexpr std::size_t kRememberedBanners = 32;
// The service's own default for how long a banner stays.
constexpr int kDefaultTimeout = -1;

// Services that read the body as markup take these three as its syntax; a link or a command shows
// as copied only when they are written as entities.
QString escapeMarkup(const std::string& text) {
    QString escaped;
    for (const QChar c : QString::fromStdString(text)) {
        if (c == u'&') {
            escaped += QStringLiteral("&amp;");
        } else if (c == u'<') {
            escaped += QStringLiteral("&lt;");
        } else if (c == u'>') {
            escaped += QStringLiteral("&gt;");
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// Calls `handle` with the answer to `call` unless `parent` is gone by then.
template <typename Handler>
void whenAnswered(const QDBusPendingCall& call, QObject* parent, Handler handle) {
    auto* watcher = new QDBusPendingCallWatcher(call, parent);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, parent,
                     [watcher, handle = std::move(handle)]() mutable {
                         handle(*watcher);
                         watcher->deleteLater();
                     });
}

}  // namespace

DBusNotifier::DBusNotifier(bool isTrayApplication, QDBusConnection bus)
    : isTrayApplication_(isTrayApplication), bus_(std::move(bus)), calls_(std::make_unique<QObject>()) {}

DBusNotifier::~DBusNotifier() = default;

bool DBusNotifier::isAvailable() const {
    if (!isTrayApplication_ || !bus_.isConnected()) return false;
    const QDBusConnectionInterface* daemon = bus_.interface();
    if (daemon == nullptr) return false;
    if (daemon->isServiceRegistered(kService).value()) return true;
    const QStringList activatable = daemon->activatableServiceNames().value();
    return activatable.contains(kService);
}

void DBusNotifier::requestPermission() {
    if (!isTrayApplication_ || !bus_.isConnected()) return;
    const auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    whenAnswered(bus_.asyncCall(message), calls_.get(), [this](const QDBusPendingCallWatcher& answer) {
        const QDBusPendingReply<QStringList> capabilities = answer;
        if (capabilities.isValid()) bodyIsMarkup_ = capabilities.value().contains(QStringLiteral("body-markup"));
    });
}

void DBusNotifier::post(const Notification& notification) {
    if (!isTrayApplication_ || !bus_.isConnected()) return;
    auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    message << QStringLiteral("Tessaril") << shownId(notification.identifier).value_or(0) << QStringLiteral("tessaril")
            << QString::fromStdString(notification.title)
            << (bodyIsMarkup_ ? escapeMarkup(notification.body) : QString::fromStdString(notification.body))
            << QStringList() << QVariantMap() << kDefaultTimeout;
    whenAnswered(bus_.asyncCall(message), calls_.get(),
                 [this, identifier = notification.identifier](const QDBusPendingCallWatcher& answer) {
                     const QDBusPendingReply<uint> id = answer;
                     if (id.isValid()) remember(identifier, id.value());
                 });
}

std::optional<std::uint32_t> DBusNotifier::shownId(const std::string& identifier) const {
    const auto found = std::ranges::find(shown_, identifier, &std::pair<std::string, std::uint32_t>::first);
    if (found == shown_.end()) return std::nullopt;
    return found->second;
}

void DBusNotifier::remember(const std::string& identifier, std::uint32_t id) {
    std::erase_if(shown_, [&](const auto& entry) { return entry.first == identifier; });
    shown_.emplace_back(identifier, id);
    if (shown_.size() > kRememberedBanners) shown_.pop_front();
}

}  // namespace tessaril
