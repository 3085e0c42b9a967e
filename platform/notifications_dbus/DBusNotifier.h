// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Notifier.h"

#include <QDBusConnection>
#include <QObject>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace tessaril {

// Banners through the desktop's notification service on the session bus. The service answers each
// banner with an id of its own; posting again under the same identifier passes that id back, so the
// new banner replaces the old one. A banner posted before the service answered the one it replaces
// stacks instead: the banners that reuse identifiers (release notices) come hours apart.
//
// Main thread only (calls are made without waiting; the answers arrive through the event loop).
// Without a bus or a service, nothing is shown and nothing fails.
class DBusNotifier final : public Notifier {
public:
    // Only the tray application shows banners; the other programs pass false.
    explicit DBusNotifier(bool isTrayApplication, QDBusConnection bus = QDBusConnection::sessionBus());
    ~DBusNotifier() override;
    DBusNotifier(const DBusNotifier&) = delete;
    DBusNotifier& operator=(const DBusNotifier&) = delete;

    [[nodiscard]] bool isAvailable() const override;
    // The service has no permission prompt; this asks what it can show, which decides whether the
    // body is sent as markup.
    void requestPermission() override;
    void post(const Notification& notification) override;

private:
    // The service's id of the banner last shown under `identifier`, when it still counts.
    [[nodiscard]] std::optional<std::uint32_t> shownId(const std::string& identifier) const;
    void remember(const std::string& identifier, std::uint32_t id);

    bool isTrayApplication_;
    QDBusConnection bus_;
    // Parent of the calls under way: they are dropped, unanswered, with the notifier.
    std::unique_ptr<QObject> calls_;
    // The newest banners' ids, newest last; the clean banners' random identifiers never come back,
    // so only a few are kept.
    std::deque<std::pair<std::string, std::uint32_t>> shown_;
    // Whether the service reads the body as markup; until it says, it is taken to, since escaped
    // text shown literally reads better than markup that went missing.
    bool bodyIsMarkup_ = true;
};

}  // namespace tessaril
