// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/tray/TrayIcon.h"

#include "app/menu/TrayMenuModel.h"

#include <QAction>
#include <QCursor>
#include <QFont>
#include <QFontMetrics>
#include <QString>

namespace tessaril {

namespace {

// A link can be thousands of characters long; the menu stays on the screen.
constexpr int maximumTextWidth = 520;

// Menu texts are links and commands, full of "&" and "_", shown as they are: no shortcut letters.
QString menuText(QMenu& menu, const std::string& text) {
    QString shown =
        QFontMetrics(menu.font()).elidedText(QString::fromStdString(text), Qt::ElideMiddle, maximumTextWidth);
    if (menu.platformMenu() == nullptr) {
        // Drawn by Qt, where a single "&" marks a shortcut letter and vanishes.
        return shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    }
    // Sent to a StatusNotifierItem tray as a D-Bus menu, where "_" marks the shortcut letter, "__" is
    // an underscore and "&" is itself; Qt turns only the first "&" of a text into "_". So a text
    // with an "&" gets a leading one for Qt to turn: its first letter becomes the shortcut.
    shown.replace(QLatin1Char('_'), QStringLiteral("__"));
    return shown.contains(QLatin1Char('&')) ? QLatin1Char('&') + shown : shown;
}

}  // namespace

TrayIcon::TrayIcon(AppState& state) : state_(state) {
    menu_.setToolTipsVisible(true);
    tray_.setContextMenu(&menu_);
    tray_.setToolTip(QStringLiteral("Tessaril"));
    QObject::connect(&menu_, &QMenu::aboutToShow, &menu_, [this] { fill(menu_, TrayMenuModel::build(state_)); });
    // Some trays only report a click and leave the menu to the application.
    QObject::connect(&tray_, &QSystemTrayIcon::activated, &menu_, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) menu_.popup(QCursor::pos());
    });
    updateIcon();
    stateChanged_ = state_.changed().connect([this] { updateIcon(); });
}

bool TrayIcon::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        state_.reportNoTrayHost();
        return false;
    }
    tray_.show();
    return true;
}

QIcon TrayIcon::icon(AppState::MenuBarIcon which) {
    switch (which) {
        case AppState::MenuBarIcon::warning:
            return QIcon(QStringLiteral(":/tray/warning.svg"));
        case AppState::MenuBarIcon::linkFilled:
            return QIcon(QStringLiteral(":/tray/link-filled.svg"));
        case AppState::MenuBarIcon::linkOutline:
            return QIcon(QStringLiteral(":/tray/link-outline.svg"));
    }
    return {};
}

void TrayIcon::fill(QMenu& menu, const std::vector<MenuEntry>& entries) {
    menu.clear();
    for (const auto& entry : entries) {
        if (entry.kind == MenuEntry::Kind::separator) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(menuText(menu, entry.text));
        action->setToolTip(QString::fromStdString(entry.help.empty() ? entry.text : entry.help));
        switch (entry.kind) {
            case MenuEntry::Kind::header: {
                QFont bold = action->font();
                bold.setBold(true);
                action->setFont(bold);
                action->setEnabled(false);
                break;
            }
            case MenuEntry::Kind::label:
                action->setEnabled(false);
                break;
            case MenuEntry::Kind::toggle:
                action->setCheckable(true);
                action->setChecked(entry.checked);
                [[fallthrough]];
            case MenuEntry::Kind::button:
            case MenuEntry::Kind::separator:
                action->setEnabled(entry.enabled);
                if (entry.action)
                    QObject::connect(action, &QAction::triggered, action, [run = entry.action] { run(); });
                break;
        }
    }
}

void TrayIcon::updateIcon() {
    const auto which = state_.menuBarIcon();
    if (shown_ == which) return;
    shown_ = which;
    tray_.setIcon(icon(which));
}

}  // namespace tessaril
