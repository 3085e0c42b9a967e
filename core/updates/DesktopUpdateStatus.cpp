// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/DesktopUpdateStatus.h"

namespace tessaril {

std::optional<std::string> DesktopUpdateStatus::displayText() const {
    if (std::holds_alternative<Checking>(state_)) return "Checking...";
    if (std::holds_alternative<UpToDate>(state_)) return "Tessaril is up to date.";
    if (std::holds_alternative<Failed>(state_)) return "Could not check for updates. Try again later.";
    if (const auto* available = std::get_if<Available>(&state_)) {
        const DesktopReleaseInfo& release = available->release;
        std::string text = "Update available: Tessaril " + release.currentVersion;
        if (release.currentBuild) text += " (Build " + std::to_string(*release.currentBuild) + ")";
        return text + ".";
    }
    return std::nullopt;
}

}  // namespace tessaril
