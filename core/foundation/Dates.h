// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Date.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// The calendar day `date` falls on in the given IANA zone. An unknown zone identifier counts as UTC.
// Counting back whole days from it gives calendar days, however long a daylight-saving change
// makes one of them.
[[nodiscard]] std::chrono::sys_days localDay(Date date, std::string_view timeZoneId);

// "yyyy-MM-dd" of a calendar day (Gregorian, ASCII digits whatever the user's locale).
[[nodiscard]] std::string formatDay(std::chrono::sys_days day);

// "yyyy-MM-dd" of `date` as the calendar shows it in the given IANA zone: formatDay(localDay(...)).
[[nodiscard]] std::string formatDay(Date date, std::string_view timeZoneId);

// "2026-12-05T10:00:00Z": UTC, whole seconds (fractions are dropped, rounding towards the past).
[[nodiscard]] std::string formatInternetDateTime(Date date);

// Reads "yyyy-MM-ddTHH:mm:ss" followed by "Z" or a "+hh:mm"/"-hh:mm" offset, and nothing else:
// no fractions, no lower-case "t"/"z", no missing fields, no leap second, no out-of-range values.
[[nodiscard]] std::optional<Date> parseInternetDateTime(std::string_view text);

// A random (version 4) UUID, upper-case, "XXXXXXXX-XXXX-4XXX-YXXX-XXXXXXXXXXXX".
[[nodiscard]] std::string makeUuid();

}  // namespace tessaril
