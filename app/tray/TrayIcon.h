// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/menu/MenuEntry.h"
#include "app/state/AppState.h"
#include "core/foundation/Signal.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include <optional>
#include <vector>

namespace tessaril {

// The application's face: an icon in the desktop's tray whose menu is built afresh from the state
// each time it opens, and whose picture follows the state's warnings and auto-clean switch.
class TrayIcon {
public:
    // `state` must outlive the icon. Needs a QApplication.
    explicit TrayIcon(AppState& state);
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Puts the icon in the tray. Without a tray on the desktop the state tells the user, and the
    // answer is false.
    bool show();

    [[nodiscard]] QMenu& menu() { return menu_; }
    [[nodiscard]] const QSystemTrayIcon& systemTrayIcon() const { return tray_; }

    [[nodiscard]] static QIcon icon(AppState::MenuBarIcon which);
    // Replaces the menu's actions with `entries`.
    static void fill(QMenu& menu, const std::vector<MenuEntry>& entries);

private:
    void updateIcon();

    AppState& state_;
    QMenu menu_;
    QSystemTrayIcon tray_;
    std::optional<AppState::MenuBarIcon> shown_;
    ScopedConnection stateChanged_;
};

}  // namespace tessaril
