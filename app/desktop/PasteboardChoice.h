// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Pasteboard.h"
#include "platform/paths/Environment.h"

#include <functional>
#include <memory>
#include <string>
#include <variant>

namespace tessaril {

// Which clipboard the application watches, decided before the QApplication is made, since the
// decision may have to choose Qt's display platform too.
struct PasteboardChoice {
    enum class Kind {
        // The compositor's data-control protocol: `wayland` holds the connected adapter.
        Wayland,
        // QClipboard on X11, directly or through XWayland.
        X11,
        // No clipboard can be watched: `message` says why, and the application cannot run.
        None,
    };

    Kind kind = Kind::None;
    std::unique_ptr<Pasteboard> wayland;
    // Qt must use its X11 platform (QT_QPA_PLATFORM=xcb) for QClipboard to see changes.
    bool forceX11 = false;
    // For the user, once: the error when there is no clipboard, or why the X11 one is used on a
    // Wayland desktop. Empty otherwise.
    std::string message;
};

// Connects to the Wayland compositor's data-control protocol: the adapter, or why there is none.
using WaylandConnector = std::function<std::variant<std::unique_ptr<Pasteboard>, std::string>()>;

// The decision from the environment (WAYLAND_DISPLAY, DISPLAY) and, on Wayland, whether the
// adapter could be made; `connectWayland` is called only when WAYLAND_DISPLAY is set.
[[nodiscard]] PasteboardChoice choosePasteboard(const EnvironmentLookup& environment,
                                                const WaylandConnector& connectWayland);

// The same for this process, with the real Wayland adapter; sets QT_QPA_PLATFORM when X11 is forced.
[[nodiscard]] PasteboardChoice choosePasteboardForThisProcess();

}  // namespace tessaril
