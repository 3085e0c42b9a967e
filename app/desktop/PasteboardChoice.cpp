// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/desktop/PasteboardChoice.h"

#include "platform/clipboard_wayland/WaylandPasteboard.h"

#include <QByteArray>

#include <utility>

namespace tessaril {

namespace {

bool isSet(const EnvironmentLookup& environment, std::string_view name) {
    const auto value = environment(name);
    return value && !value->empty();
}

}  // namespace

PasteboardChoice choosePasteboard(const EnvironmentLookup& environment, const WaylandConnector& connectWayland) {
    PasteboardChoice choice;
    const bool x11 = isSet(environment, "DISPLAY");
    if (!isSet(environment, "WAYLAND_DISPLAY")) {
        if (x11) {
            choice.kind = PasteboardChoice::Kind::X11;
        } else {
            choice.message =
                "Tessaril needs a graphical session to watch the clipboard, and neither WAYLAND_DISPLAY nor DISPLAY "
                "is set.";
        }
        return choice;
    }
    auto wayland = connectWayland();
    if (auto* adapter = std::get_if<std::unique_ptr<Pasteboard>>(&wayland)) {
        choice.kind = PasteboardChoice::Kind::Wayland;
        choice.wayland = std::move(*adapter);
        return choice;
    }
    const std::string& whyNot = std::get<std::string>(wayland);
    if (!x11) {
        choice.message = "Tessaril cannot watch the clipboard on this desktop: " + whyNot;
        return choice;
    }
    choice.kind = PasteboardChoice::Kind::X11;
    choice.forceX11 = true;
    choice.message =
        "This desktop does not let background programs watch the clipboard on Wayland; Tessaril is using the X11 "
        "clipboard through XWayland instead.";
    return choice;
}

PasteboardChoice choosePasteboardForThisProcess() {
    auto choice =
        choosePasteboard(processEnvironment(), []() -> std::variant<std::unique_ptr<Pasteboard>, std::string> {
            auto connected = WaylandPasteboard::connect();
            if (auto* whyNot = std::get_if<std::string>(&connected)) return std::move(*whyNot);
            return std::unique_ptr<Pasteboard>(std::get<std::unique_ptr<WaylandPasteboard>>(std::move(connected)));
        });
    if (choice.forceX11) qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("xcb"));
    return choice;
}

}  // namespace tessaril
