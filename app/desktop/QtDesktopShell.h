// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/state/DesktopShell.h"
#include "platform/autostart/XdgAutostart.h"

#include <QPointer>
#include <QWidget>

#include <map>
#include <optional>
#include <string>

namespace tessaril {

// The desktop as the application's shell sees it, through Qt: windows, the default handler for
// links, quitting, and launch at login through the autostart entry. Main thread only, while a
// QApplication exists.
//
// The windows are placeholders until their contents are written: each names the window it stands
// for. One window per identifier: opening it again raises the one already open.
class QtDesktopShell final : public DesktopShell {
public:
    explicit QtDesktopShell(XdgAutostart autostart);
    ~QtDesktopShell() override;
    QtDesktopShell(const QtDesktopShell&) = delete;
    QtDesktopShell& operator=(const QtDesktopShell&) = delete;

    void openWindow(const std::string& identifier) override;
    bool openUrl(const std::string& url) override;
    [[nodiscard]] std::optional<std::string> setLaunchAtLogin(bool enabled) override;
    void quit() override;

private:
    XdgAutostart autostart_;
    // Closing a window deletes it, which empties its entry.
    std::map<std::string, QPointer<QWidget>, std::less<>> windows_;
};

}  // namespace tessaril
