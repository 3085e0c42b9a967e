// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace tessaril {

// The spans statistics are shown for. The daily ones are calendar days in the user's time zone,
// today included; "All Time" is the lifetime totals.
enum class StatsWindow { today, sevenDays, thirtyDays, allTime };

inline constexpr std::array<StatsWindow, 4> kAllStatsWindows = {StatsWindow::today, StatsWindow::sevenDays,
                                                                StatsWindow::thirtyDays, StatsWindow::allTime};

// "Today", "7 Days", "30 Days", "All Time": the identity and the display text.
[[nodiscard]] std::string_view rawValue(StatsWindow window);
[[nodiscard]] std::optional<StatsWindow> statsWindowFromRawValue(std::string_view raw);

}  // namespace tessaril
