// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QString>

#include <functional>

namespace tessaril {

// One tray application per session: the first one owns a well-known name on the session bus and
// answers OpenPreferences there; a later one asks it to open its preferences and ends. Main thread
// only, after the QApplication is made.
class SingleInstance final : public QDBusVirtualObject {
public:
    enum class Claim {
        // This is the running instance; the object stays exported while it lives.
        First,
        // Another instance runs and was asked to show its preferences: this one should exit.
        AlreadyRunning,
        // No session bus: nothing can be enforced, and the program runs.
        Unenforced,
    };

    static inline const QString kDefaultName = QStringLiteral("org.tessaril.Tessaril");

    SingleInstance(std::function<void()> openPreferences, QDBusConnection bus = QDBusConnection::sessionBus(),
                   QString name = kDefaultName);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Claim claim();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    std::function<void()> openPreferences_;
    QDBusConnection bus_;
    QString name_;
    bool owner_ = false;
};

}  // namespace tessaril
