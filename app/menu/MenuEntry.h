// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

namespace tessaril {

// One line of the tray menu, as any toolkit can draw it.
struct MenuEntry {
    enum class Kind {
        // A switch drawn with its state; `checked` holds it.
        toggle,
        button,
        // Information only: never chosen.
        label,
        // The title of a group: never chosen.
        header,
        separator,
    };

    Kind kind = Kind::label;
    std::string text;
    // The tooltip; empty for none.
    std::string help;
    // What a screen reader says instead of `text`; empty to read the text.
    std::string accessibleName;
    bool enabled = true;
    bool checked = false;
    // Runs when the user chooses the entry; empty for labels, headers and separators.
    std::function<void()> action;
};

}  // namespace tessaril
