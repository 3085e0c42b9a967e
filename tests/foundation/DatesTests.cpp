// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Clock.h"
#include "core/foundation/Dates.h"

#include <gtest/gtest.h>

#include <set>
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
    // Europe switches to summer time at 01:00 UTC on 29 March 2026; the US switched on 8 March.
    const Date earlyMorning = at("2026-03-29T00:30:00Z");
    EXPECT_EQ(formatDay(earlyMorning, "Europe/Berlin"), "2026-03-29");
    EXPECT_EQ(formatDay(earlyMorning, "America/Los_Angeles"), "2026-03-28");
    EXPECT_EQ(formatDay(earlyMorning, "UTC"), "2026-03-29");
    // 22:30 UTC is 00:30 next day in Berlin summer time, but still 23:30 at the winter offset.
    EXPECT_EQ(formatDay(at("2026-03-29T22:30:00Z"), "Europe/Berlin"), "2026-03-30");
    EXPECT_EQ(formatDay(at("2026-01-15T22:30:00Z"), "Europe/Berlin"), "2026-01-15");
    // And back in autumn (25 October 2026).
    EXPECT_EQ(formatDay(at("2026-10-25T22:30:00Z"), "Europe/Berlin"), "2026-10-25");
    // Half-hour and far-east zones, a leap day, and a year boundary.
    EXPECT_EQ(formatDay(at("2026-06-30T18:29:59Z"), "Asia/Kolkata"), "2026-06-30");
    EXPECT_EQ(formatDay(at("2026-06-30T18:30:00Z"), "Asia/Kolkata"), "2026-07-01");
    EXPECT_EQ(formatDay(at("2027-12-31T10:00:00Z"), "Pacific/Kiritimati"), "2028-01-01");
    EXPECT_EQ(formatDay(at("2028-02-29T12:00:00Z"), "UTC"), "2028-02-29");
    // Unknown zones fall back to UTC rather than failing.
    EXPECT_EQ(formatDay(earlyMorning, "Mars/Olympus_Mons"), "2026-03-29");
    EXPECT_EQ(formatDay(at("2026-03-28T23:30:00Z"), ""), "2026-03-28");
    EXPECT_EQ(formatDay(at("2026-03-28T23:30:00Z"), std::string(300, 'x')), "2026-03-28");
}

TEST(Dates, InternetDateTimeRoundTripsInUtcWithoutFractions) {
    const Date date = at("2026-12-05T10:00:00Z");
    EXPECT_EQ(formatInternetDateTime(date), "2026-12-05T10:00:00Z");
    EXPECT_EQ(parseInternetDateTime(formatInternetDateTime(date)), date);
    EXPECT_EQ(formatInternetDateTime(Date{}), "1970-01-01T00:00:00Z");
    // Sub-second parts are dropped towards the past, also before 1970.
    EXPECT_EQ(formatInternetDateTime(date + 999ms), "2026-12-05T10:00:00Z");
    EXPECT_EQ(formatInternetDateTime(Date{} - 1ns), "1969-12-31T23:59:59Z");
    // Offsets are applied and the result is printed in UTC.
    EXPECT_EQ(parseInternetDateTime("2026-12-05T15:30:00+05:30"), date);
    EXPECT_EQ(parseInternetDateTime("2026-12-05T02:00:00-08:00"), date);
    EXPECT_EQ(parseInternetDateTime("2026-12-05T10:00:00-00:00"), date);
    EXPECT_EQ(formatInternetDateTime(at("2026-12-31T23:00:00-02:00")), "2027-01-01T01:00:00Z");
    EXPECT_EQ(at("2026-12-05T10:00:01Z") - date, 1s);
}

TEST(Dates, MalformedInternetDateTimesAreRejected) {
    for (std::string_view bad : {
             "",
             "2026-12-05",
             "2026-12-05T10:00:00",
             "2026-12-05 10:00:00Z",
             "2026-12-05t10:00:00z",
             "2026-12-05T10:00:00.123Z",
             "2026-12-05T10:00Z",
             "2026-12-05T10:00:00+0530",
             "2026-12-05T10:00:00+05",
             "2026-12-05T10:00:00+05:30x",
             "2026-12-05T10:00:00Zx",
             " 2026-12-05T10:00:00Z",
             "2026-12-05T10:00:00+24:00",
             "2026-12-05T10:00:00+05:60",
             "2026-02-29T10:00:00Z",
             "2100-02-29T10:00:00Z",
             "2026-13-01T10:00:00Z",
             "2026-00-10T10:00:00Z",
             "2026-12-00T10:00:00Z",
             "2026-12-05T24:00:00Z",
             "2026-12-05T10:60:00Z",
             "2026-12-05T10:00:60Z",
             "+026-12-05T10:00:00Z",
             "2026-1-05T10:00:00Z",
             "9999-12-31T23:59:59Z",  // beyond what a Date can hold
             "1600-01-01T00:00:00Z",
         }) {
        EXPECT_FALSE(parseInternetDateTime(bad).has_value()) << bad;
    }
}

TEST(Dates, UuidsAreUpperCaseVersion4AndUnique) {
    std::set<std::string> seen;
    for (int i = 0; i < 5000; ++i) {
        const std::string uuid = makeUuid();
        ASSERT_EQ(uuid.size(), 36U);
        for (std::size_t p = 0; p < uuid.size(); ++p) {
            const char c = uuid[p];
            if (p == 8 || p == 13 || p == 18 || p == 23) {
                ASSERT_EQ(c, '-') << uuid;
            } else {
                ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << uuid;
            }
        }
        ASSERT_EQ(uuid[14], '4') << uuid;
        ASSERT_NE(std::string("89AB").find(uuid[19]), std::string::npos) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 5000U);
}

TEST(Clock, SystemClockReportsTheMachinesTimeAndAZone) {
    SystemClock clock;
    const auto before = std::chrono::system_clock::now();
    const auto now = clock.now();
    EXPECT_LE(before, now);
    EXPECT_LE(now - before, 5s);
    EXPECT_FALSE(clock.timeZoneIdentifier().empty());
    EXPECT_EQ(formatDay(now, clock.timeZoneIdentifier()).size(), 10U);
}

}  // namespace
}  // namespace tessaril
