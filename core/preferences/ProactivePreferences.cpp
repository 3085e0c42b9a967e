// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/ProactivePreferences.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <variant>

namespace tessaril {

namespace {

// The stored last attempt, when it is a usable time; anything else means never attempted.
std::optional<double> lastAttempt(const UserDefaults& defaults, std::string_view key) {
    const auto stored = defaults.value(key);
    if (!stored) return std::nullopt;
    double seconds = 0;
    if (const auto* real = std::get_if<double>(&*stored)) {
        seconds = *real;
    } else if (const auto* whole = std::get_if<std::int64_t>(&*stored)) {
        seconds = static_cast<double>(*whole);
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(seconds) || seconds < 0) return std::nullopt;
    return seconds;
}

}  // namespace

std::string_view rawValue(ProactivePreferences::Check check) {
    return check == ProactivePreferences::Check::rules ? "rules" : "app";
}

std::optional<ProactivePreferences::Check> proactiveCheckFromRawValue(std::string_view raw) {
    for (auto check : {ProactivePreferences::Check::rules, ProactivePreferences::Check::app}) {
        if (rawValue(check) == raw) return check;
    }
    return std::nullopt;
}

double interval(ProactivePreferences::Check check) {
    return check == ProactivePreferences::Check::rules ? 86'400.0 : 604'800.0;
}

void ProactivePreferences::setUnknownAlerts(bool on) {
    defaults_.set(unknownAlertsKey, on);
}

void ProactivePreferences::setDailyRules(bool on) {
    defaults_.set(dailyRulesKey, on);
    if (!on) defaults_.set(automaticInstallKey, false);
}

void ProactivePreferences::setAutomaticInstall(bool on) {
    defaults_.set(automaticInstallKey, on && dailyRules());
}

void ProactivePreferences::setWeeklyApp(bool on) {
    defaults_.set(weeklyAppKey, on);
}

bool ProactivePreferences::claim(Check check, double now) {
    if (!std::isfinite(now) || now < 0) return false;
    if (!(check == Check::rules ? dailyRules() : weeklyApp())) return false;
    const std::string key = std::string(lastAttemptPrefix) + std::string(rawValue(check));
    if (const auto last = lastAttempt(defaults_, key)) {
        if (now < *last) {
            defaults_.set(key, now);
            return false;
        }
        if (now - *last < interval(check)) return false;
    }
    defaults_.set(key, now);
    return true;
}

}  // namespace tessaril
