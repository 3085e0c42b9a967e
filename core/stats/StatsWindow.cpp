// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stats/StatsWindow.h"

namespace tessaril {

std::string_view rawValue(StatsWindow window) {
    switch (window) {
        case StatsWindow::today:
            return "Today";
        case StatsWindow::sevenDays:
            return "7 Days";
        case StatsWindow::thirtyDays:
            return "30 Days";
        case StatsWindow::allTime:
            return "All Time";
    }
    return "All Time";
}

std::optional<StatsWindow> statsWindowFromRawValue(std::string_view raw) {
    for (StatsWindow window : kAllStatsWindows) {
        if (rawValue(window) == raw) return window;
    }
    return std::nullopt;
}

}  // namespace tessaril
