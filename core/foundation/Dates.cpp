// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Dates.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>

namespace tessaril {

namespace {

using std::chrono::sys_days;
using std::chrono::sys_seconds;

// The zone's offset from UTC at `instant`, in seconds; 0 for a zone ICU does not know.
std::int64_t zoneOffsetSeconds(sys_seconds instant, std::string_view timeZoneId) {
    // Real identifiers are short; anything long is junk and must not be cut into a valid one.
    if (timeZoneId.empty() || timeZoneId.size() > 256) return 0;
    const auto id =
        icu::UnicodeString::fromUTF8(icu::StringPiece(timeZoneId.data(), static_cast<std::int32_t>(timeZoneId.size())));
    const std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(id));
    if (!zone || *zone == icu::TimeZone::getUnknown()) return 0;
    std::int32_t rawOffset = 0;
    std::int32_t dstOffset = 0;
    UErrorCode status = U_ZERO_ERROR;
    const auto millis = static_cast<UDate>(instant.time_since_epoch().count()) * 1000.0;
    zone->getOffset(millis, false, rawOffset, dstOffset, status);
    if (U_FAILURE(status)) return 0;
    return (static_cast<std::int64_t>(rawOffset) + dstOffset) / 1000;
}

// Reads exactly `width` ASCII digits at `pos`.
std::optional<int> digits(std::string_view text, std::size_t pos, std::size_t width) {
    if (pos + width > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = pos; i < pos + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool hasAt(std::string_view text, std::size_t pos, char c) {
    return pos < text.size() && text[pos] == c;
}

}  // namespace

sys_days localDay(Date date, std::string_view timeZoneId) {
    const auto instant = std::chrono::floor<std::chrono::seconds>(date);
    const auto local = instant + std::chrono::seconds(zoneOffsetSeconds(instant, timeZoneId));
    return std::chrono::floor<std::chrono::days>(local);
}

std::string formatDay(sys_days day) {
    const std::chrono::year_month_day ymd(day);
    char buffer[32];
    // The year may have any sign and up to five digits; the buffer holds every such text.
    static_cast<void>(std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                                    static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day())));
    return buffer;
}

std::string formatDay(Date date, std::string_view timeZoneId) {
    return formatDay(localDay(date, timeZoneId));
}

std::string formatInternetDateTime(Date date) {
    const auto instant = std::chrono::floor<std::chrono::seconds>(date);
    const auto day = std::chrono::floor<std::chrono::days>(instant);
    const std::chrono::hh_mm_ss time(instant - day);
    char buffer[32];
    static_cast<void>(std::snprintf(buffer, sizeof buffer, "T%02d:%02d:%02dZ", static_cast<int>(time.hours().count()),
                                    static_cast<int>(time.minutes().count()),
                                    static_cast<int>(time.seconds().count())));
    return formatDay(day) + buffer;
}

std::optional<Date> parseInternetDateTime(std::string_view text) {
    // yyyy-MM-ddTHH:mm:ss is 19 characters; then "Z" (20 in all) or "+hh:mm" (25 in all).
    const auto year = digits(text, 0, 4);
    const auto month = digits(text, 5, 2);
    const auto day = digits(text, 8, 2);
    const auto hour = digits(text, 11, 2);
    const auto minute = digits(text, 14, 2);
    const auto second = digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
    if (!hasAt(text, 4, '-') || !hasAt(text, 7, '-') || !hasAt(text, 10, 'T') || !hasAt(text, 13, ':') ||
        !hasAt(text, 16, ':')) {
        return std::nullopt;
    }
    if (*hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
    const std::chrono::year_month_day ymd{std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                                          std::chrono::day(static_cast<unsigned>(*day))};
    if (!ymd.ok()) return std::nullopt;

    std::int64_t offsetSeconds = 0;
    if (text.size() == 20 && text[19] == 'Z') {
        offsetSeconds = 0;
    } else if (text.size() == 25 && (text[19] == '+' || text[19] == '-') && hasAt(text, 22, ':')) {
        const auto offsetHours = digits(text, 20, 2);
        const auto offsetMinutes = digits(text, 23, 2);
        if (!offsetHours || !offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) return std::nullopt;
        offsetSeconds =
            (std::int64_t{*offsetHours} * 3600 + std::int64_t{*offsetMinutes} * 60) * (text[19] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }

    // Local time minus its offset is UTC. Seconds never overflow here; the nanosecond Date might.
    const sys_seconds utc = sys_days(ymd) + std::chrono::hours(*hour) + std::chrono::minutes(*minute) +
                            std::chrono::seconds(*second) - std::chrono::seconds(offsetSeconds);
    const auto earliest = std::chrono::ceil<std::chrono::seconds>(Date::min());
    const auto latest = std::chrono::floor<std::chrono::seconds>(Date::max());
    if (utc < earliest || utc > latest) return std::nullopt;
    return std::chrono::time_point_cast<Date::duration>(utc);
}

std::string makeUuid() {
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(), device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t value = generator();
        for (std::size_t i = 0; i < 8; ++i) {
            bytes[half * 8 + i] = static_cast<std::uint8_t>(value & 0xFF);
            value >>= 8;
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4: random
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += hex[bytes[i] >> 4];
        out += hex[bytes[i] & 0x0F];
    }
    return out;
}

}  // namespace tessaril
