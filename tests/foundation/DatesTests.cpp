// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Clock.h"
#include "core/foundation/Dates.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <string>

namespace tessaril {
namespace {

using namespace std::chrono_literals;

Date at(std::string_view internetDateTime) {
    auto date = parseInternetDateTime(internetDateTime);
    EXPECT_TRUE(date.has_value()) << internetDateTime;
    return date.value_or(Date{});
}

TEST(Dates, DayFollowsTheZoneIncludingDaylightSaving) {
    const auto cases = testing::readCases("foundation/days-in-zones.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases)
        EXPECT_EQ(formatDay(at(row[0].get<std::string>()), row[1].get<std::string>()), row[2]) << row;
    // The machine's own zone is known, or every day would be UTC's.
    EXPECT_FALSE(SystemClock().timeZoneIdentifier().empty());
}

TEST(Dates, InternetDateTimesInUtcWithoutFractions) {
    const Date date = at("2026-12-05T10:00:00Z");
    // Sub-second parts are dropped towards the past, also before 1970.
    EXPECT_EQ(formatInternetDateTime(date + 999ms), "2026-12-05T10:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date{} - 1ns), "1969-12-31T23:59:59Z");
    const auto cases = testing::readCases("foundation/internet-dates.json");
    ASSERT_GT(cases.size(), 20U);
    for (const auto& row : cases) {
        const auto parsed = parseInternetDateTime(row[0].get<std::string>());
        EXPECT_EQ(parsed ? std::optional(formatInternetDateTime(*parsed)) : std::nullopt,
                  row[1].is_null() ? std::nullopt : std::optional(row[1].get<std::string>()))
            << row[0];
    }
}

}  // namespace
}  // namespace tessaril
