// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Date.h"

#include <chrono>
#include <string>
#include <utility>

namespace tessaril {

// The current time and the user's time zone. Everything that stamps or buckets by day asks this
// port, so tests can stand on any day in any zone.
class Clock {
public:
    virtual ~Clock() = default;

    [[nodiscard]] virtual Date now() const = 0;
    // An IANA zone identifier such as "Europe/Berlin"; "UTC" when the zone cannot be told.
    [[nodiscard]] virtual std::string timeZoneIdentifier() const = 0;
};

// The machine's clock and zone. The zone is looked up on every call, so a user who travels or
// changes the setting gets the new day without a restart.
class SystemClock final : public Clock {
public:
    [[nodiscard]] Date now() const override;
    [[nodiscard]] std::string timeZoneIdentifier() const override;
};

// A clock that stands still until told otherwise: the test double.
class SettableClock final : public Clock {
public:
    explicit SettableClock(Date start = Date{}, std::string timeZoneIdentifier = "UTC");

    [[nodiscard]] Date now() const override { return now_; }
    [[nodiscard]] std::string timeZoneIdentifier() const override { return timeZone_; }

    void setNow(Date date) { now_ = date; }
    void advance(std::chrono::system_clock::duration by) { now_ += by; }
    void setTimeZoneIdentifier(std::string identifier) { timeZone_ = std::move(identifier); }

private:
    Date now_;
    std::string timeZone_;
};

}  // namespace tessaril
