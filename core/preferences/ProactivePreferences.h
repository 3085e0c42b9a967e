// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/UserDefaults.h"

#include <optional>
#include <string_view>

namespace tessaril {

// The switches for everything the product does on its own initiative: alerts about unrecognised
// parameters, a daily rules check, installing verified rule updates without asking, and a weekly
// look for a new release of the application. All are off until the user turns them on, and only a
// stored Boolean true turns one on: a number, a text or anything else counts as off. A thin view
// over the store: every read asks it, every write goes straight to it.
class ProactivePreferences {
public:
    static constexpr std::string_view unknownAlertsKey = "proactive_unknownAlerts";
    static constexpr std::string_view dailyRulesKey = "proactive_dailyRules";
    static constexpr std::string_view automaticInstallKey = "proactive_automaticInstall";
    static constexpr std::string_view weeklyAppKey = "proactive_weeklyApp";
    // Followed by a check's raw value; seconds since 1970 as a floating-point number.
    static constexpr std::string_view lastAttemptPrefix = "proactive_lastAttempt_";

    // The periodic checks: the rules once a day, the application's release once a week.
    enum class Check { rules, app };

    // `defaults` must outlive this view.
    explicit ProactivePreferences(UserDefaults& defaults) : defaults_(defaults) {}

    [[nodiscard]] bool unknownAlerts() const { return switchOn(unknownAlertsKey); }
    [[nodiscard]] bool dailyRules() const { return switchOn(dailyRulesKey); }
    // Never on while daily checks are off, whatever is stored.
    [[nodiscard]] bool automaticInstall() const { return switchOn(automaticInstallKey) && dailyRules(); }
    [[nodiscard]] bool weeklyApp() const { return switchOn(weeklyAppKey); }

    void setUnknownAlerts(bool on);
    // Turning daily checks off turns automatic installation off too; turning them on leaves it off.
    void setDailyRules(bool on);
    // Stores off while daily checks are off.
    void setAutomaticInstall(bool on);
    void setWeeklyApp(bool on);

    // Whether the periodic check may run at `now` (seconds since 1970): its switch is on and a full
    // interval has passed since the last claimed attempt. A granted claim records `now` at once, so
    // a check that then fails still waits a full interval. A last attempt later than `now` (the
    // clock was set back) is replaced by `now`, and the wait starts again from there.
    [[nodiscard]] bool claim(Check check, double now);

private:
    [[nodiscard]] bool switchOn(std::string_view key) const { return defaults_.boolValue(key).value_or(false); }

    UserDefaults& defaults_;
};

// "rules" or "app": the identity, and the end of the check's last-attempt key.
[[nodiscard]] std::string_view rawValue(ProactivePreferences::Check check);
[[nodiscard]] std::optional<ProactivePreferences::Check> proactiveCheckFromRawValue(std::string_view raw);
// 86,400 seconds for the rules, 604,800 for the application.
[[nodiscard]] double interval(ProactivePreferences::Check check);

}  // namespace tessaril
