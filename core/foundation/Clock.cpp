// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Clock.h"

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <memory>

namespace tessaril {

Date SystemClock::now() const {
    return std::chrono::system_clock::now();
}

std::string SystemClock::timeZoneIdentifier() const {
    const std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::detectHostTimeZone());
    if (!zone || *zone == icu::TimeZone::getUnknown()) return "UTC";
    icu::UnicodeString id;
    zone->getID(id);
    std::string out;
    id.toUTF8String(out);
    return out.empty() ? "UTC" : out;
}

SettableClock::SettableClock(Date start, std::string timeZoneIdentifier)
    : now_(start), timeZone_(std::move(timeZoneIdentifier)) {}

}  // namespace tessaril
