// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/desktop/QtDesktopShell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace tessaril {

namespace {

struct WindowKind {
    std::string_view identifier;
    const char* title;
    const char* standsFor;
    int width;
    int height;
};

constexpr std::array<WindowKind, 3> kWindows{{
    {"settings", "Tessaril Preferences", "the preferences", 960, 640},
    {"welcome", "Welcome to Tessaril", "the welcome", 460, 420},
    {"report", "Review Report", "the missed tracker report", 560, 560},
}};

QWidget* makePlaceholder(const WindowKind& kind) {
    auto* window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QString::fromUtf8(kind.title));
    auto* label = new QLabel(QStringLiteral("This is where %1 window goes; it comes in a later version of Tessaril.")
                                 .arg(QString::fromUtf8(kind.standsFor)));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(label);
    window->resize(kind.width, kind.height);
    return window;
}

}  // namespace

QtDesktopShell::QtDesktopShell(XdgAutostart autostart) : autostart_(std::move(autostart)) {}

QtDesktopShell::~QtDesktopShell() {
    for (auto& [identifier, window] : windows_)
        delete window.data();
}

void QtDesktopShell::openWindow(const std::string& identifier) {
    const auto* kind = std::ranges::find(kWindows, identifier, &WindowKind::identifier);
    if (kind == kWindows.end()) return;
    QPointer<QWidget>& window = windows_[identifier];
    if (window.isNull()) window = makePlaceholder(*kind);
    window->show();
    window->raise();
    window->activateWindow();
}

bool QtDesktopShell::openUrl(const std::string& url) {
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    return parsed.isValid() && !parsed.scheme().isEmpty() && QDesktopServices::openUrl(parsed);
}

std::optional<std::string> QtDesktopShell::setLaunchAtLogin(bool enabled) {
    return autostart_.setEnabled(enabled);
}

void QtDesktopShell::quit() {
    // Queued, so the event being handled ends first.
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
}

}  // namespace tessaril
