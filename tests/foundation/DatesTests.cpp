// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Clock.h"
#include "core/foundation/Dates.h"

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
    // Europe switches to summer time at 01:00 UTC on 29 March 2026 and back on 25 October.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"2026-03-29T00:30:00Z", "Europe/Berlin", "2026-03-29"},
        {"2026-03-29T00:30:00Z", "America/Los_Angeles", "2026-03-28"},
        {"2026-03-29T22:30:00Z", "Europe/Berlin", "2026-03-30"},
        {"2026-10-25T22:30:00Z", "Europe/Berlin", "2026-10-25"},
        {"2026-06-30T18:30:00Z", "Asia/Kolkata", "2026-07-01"},
        {"2027-12-31T10:00:00Z", "Pacific/Kiritimati", "2028-01-01"},
        // Unknown zones fall back to UTC rather than failing.
        {"2026-03-28T23:30:00Z", "Mars/Olympus_Mons", "2026-03-28"},
        {"2026-03-28T23:30:00Z", "", "2026-03-28"},
    };
    for (const auto& [when, zone, day] : cases)
        EXPECT_EQ(formatDay(at(when), zone), day) << when << " " << zone;
    // The machine's own zone is known, or every day would be UTC's.
    EXPECT_FALSE(SystemClock().timeZoneIdentifier().empty());
}

TEST(Dates, InternetDateTimesInUtcWithoutFractions) {
    const Date date = at("2026-12-05T10:00:00Z");
    // Sub-second parts are dropped towards the past, also before 1970.
    EXPECT_EQ(formatInternetDateTime(date + 999ms), "2026-12-05T10:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date{} - 1ns), "1969-12-31T23:59:59Z");
    // Offsets are applied and the result is printed in UTC.
    EXPECT_EQ(at("2026-12-05T15:30:00+05:30"), date);
    EXPECT_EQ(at("2026-12-05T02:00:00-08:00"), date);
    EXPECT_EQ(formatInternetDateTime(at("2026-12-31T23:00:00-02:00")), "2027-01-01T01:00:00Z");
    // Neither a wrong shape nor an impossible date, time or offset is accepted.
    for (const auto& bad :
         {std::vector<std::string_view>{"", "2026-12-05", "2026-12-05T10:00:00", "2026-12-05 10:00:00Z",
                                        "2026-12-05t10:00:00z", "2026-12-05T10:00:00.123Z", "2026-12-05T10:00Z",
                                        "2026-12-05T10:00:00+0530", "2026-12-05T10:00:00+05:30x",
                                        " 2026-12-05T10:00:00Z"},
          std::vector<std::string_view>{"2026-12-05T10:00:00+24:00", "2026-12-05T10:00:00+05:60",
                                        "2026-02-29T10:00:00Z", "2100-02-29T10:00:00Z", "2026-13-01T10:00:00Z",
                                        "2026-12-00T10:00:00Z", "2026-12-05T24:00:00Z", "2026-12-05T10:00:60Z",
                                        "+026-12-05T10:00:00Z", "2026-1-05T10:00:00Z", "9999-12-31T23:59:59Z"}})
        for (std::string_view text : bad)
            EXPECT_FALSE(parseInternetDateTime(text).has_value()) << text;
}

}  // namespace
}  // namespace tessaril
