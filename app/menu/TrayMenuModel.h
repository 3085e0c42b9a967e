// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/menu/MenuEntry.h"
#include "core/cleaning/CleanOperationKind.h"
#include "core/cleaning/CleanResult.h"

#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

class AppState;

// The tray menu: the watcher's switches, the last risky command, the last cleaned link with what
// can be done with it, a skipped site, today's count and the windows. It keeps no state of its own:
// it is built again from the application state each time the menu opens, and its actions call the
// state's objects or put text on the clipboard.
namespace TrayMenuModel {

// The entries top to bottom, groups divided by separators. The actions use `state`, which must
// outlive them.
[[nodiscard]] std::vector<MenuEntry> build(AppState& state);

// What a clean took out, in one line: up to three removed names (", +N more" for the others), else
// the privacy rewrite's hosts, else "nothing" or "redirect or path pattern".
[[nodiscard]] std::string removedSummary(const CleanResult& result);

// "unwrapped locally", "resolved using network" and the like.
[[nodiscard]] std::string_view operationLabel(CleanOperationKind kind);

}  // namespace TrayMenuModel

}  // namespace tessaril
