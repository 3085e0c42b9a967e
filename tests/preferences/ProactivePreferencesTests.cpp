// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/preferences/ProactivePreferences.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "core/foundation/InMemoryUserDefaults.h"

namespace tessaril {
namespace {

using Check = ProactivePreferences::Check;

TEST(ProactivePreferencesTest, OnlyAStoredTrueTurnsASwitchOnAndInstallingFollowsDailyChecks) {
    const std::pair<DefaultsValue, bool> readings[] = {
        {true, true}, {false, false}, {std::int64_t{1}, false}, {std::string("true"), false}};
    for (const auto& [stored, on] : readings) {
        InMemoryUserDefaults defaults;
        defaults.set(ProactivePreferences::dailyRulesKey, stored);
        defaults.set(ProactivePreferences::automaticInstallKey, true);
        const ProactivePreferences preferences(defaults);
        EXPECT_EQ(preferences.dailyRules(), on) << stored.index();
        EXPECT_EQ(preferences.automaticInstall(), on) << stored.index();
    }

    InMemoryUserDefaults defaults;
    ProactivePreferences preferences(defaults);
    preferences.setAutomaticInstall(true);
    EXPECT_EQ(defaults.boolValue(ProactivePreferences::automaticInstallKey), false);
    preferences.setDailyRules(true);
    preferences.setAutomaticInstall(true);
    EXPECT_TRUE(preferences.automaticInstall());
    preferences.setDailyRules(false);
    EXPECT_EQ(defaults.boolValue(ProactivePreferences::automaticInstallKey), false);
    preferences.setDailyRules(true);
    EXPECT_FALSE(preferences.automaticInstall());
}

TEST(ProactivePreferencesTest, ClaimsWaitAFullIntervalFromTheLastAttempt) {
    constexpr double t = 2'000'000'000;
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        Check check;
        std::optional<DefaultsValue> lastAttempt;
        double now;
        bool claimed;
        // What the last-attempt key holds afterwards; nothing means it was left as it was.
        std::optional<double> stored;
    };
    const Case cases[] = {
        {"never attempted", Check::rules, std::nullopt, t, true, t},
        {"a second short of a day", Check::rules, t - 86'399, t, false, std::nullopt},
        {"a day", Check::rules, t - 86'400, t, true, t},
        {"a whole number of seconds", Check::rules, std::int64_t{1'999'913'600}, t, true, t},
        {"a day is not a week", Check::app, t - 86'400, t, false, std::nullopt},
        {"a week", Check::app, t - 604'800, t, true, t},
        // The clock went back: start waiting again from now.
        {"attempt in the future", Check::rules, t + 5, t, false, t},
        {"stored text", Check::rules, std::string("yesterday"), t, true, t},
        {"stored negative", Check::rules, -1.0, t, true, t},
        {"stored infinity", Check::rules, std::numeric_limits<double>::infinity(), t, true, t},
        {"now not a number", Check::rules, std::nullopt, nan, false, std::nullopt},
        {"now negative", Check::rules, std::nullopt, -1, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InMemoryUserDefaults defaults;
        ProactivePreferences preferences(defaults);
        preferences.setDailyRules(true);
        preferences.setWeeklyApp(true);
        const std::string key = "proactive_lastAttempt_" + std::string(rawValue(c.check));
        if (c.lastAttempt) defaults.set(key, *c.lastAttempt);
        EXPECT_EQ(preferences.claim(c.check, c.now), c.claimed);
        if (c.stored) {
            EXPECT_EQ(defaults.doubleValue(key), c.stored);
        } else {
            EXPECT_EQ(defaults.value(key), c.lastAttempt);
        }
    }

    // With the switches off (absent) nothing is claimed and nothing is written.
    InMemoryUserDefaults defaults;
    ProactivePreferences preferences(defaults);
    for (const Check check : {Check::rules, Check::app}) {
        EXPECT_FALSE(preferences.claim(check, t));
        EXPECT_FALSE(defaults.objectExists("proactive_lastAttempt_" + std::string(rawValue(check))));
    }
}

}  // namespace
}  // namespace tessaril
