// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

namespace tessaril {

// What the application asks of the desktop beyond the core's ports: its windows, the default
// handler for links, launch at login and quitting. The Qt implementation is the real one; the
// shell's own tests record the calls.
class DesktopShell {
public:
    virtual ~DesktopShell() = default;

    // Opens (or raises) the window with this identifier: "settings", "welcome" or "report".
    virtual void openWindow(const std::string& identifier) = 0;
    // Hands `url` to the desktop's default handler; false when none took it.
    virtual bool openUrl(const std::string& url) = 0;
    // Turns launch at login on or off; the error's text when that failed.
    [[nodiscard]] virtual std::optional<std::string> setLaunchAtLogin(bool enabled) = 0;
    // Ends the application once the current event is handled.
    virtual void quit() = 0;
};

}  // namespace tessaril
