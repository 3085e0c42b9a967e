// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/Clock.h"
#include "core/foundation/Dates.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/ManualTaskExecutor.h"
#include "core/foundation/Paths.h"
#include "core/foundation/ScriptedHttpsClient.h"
#include "core/preferences/ProactivePreferences.h"
#include "core/updates/ProactiveUpdateCoordinator.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace tessaril {
namespace {

// What is already going on when the coordinator starts, and what happens before the answers arrive.
enum class Before { nothing, rulesCheck, releaseCheck };
enum class During { nothing, weeklyOff, gone };

// A case's name, its two switches and what goes on before and after the start, then what is
// expected: which checks the first tick claimed, and the requests and notifications of the next hour.
using Case =
    std::tuple<std::string, bool, bool, Before, During, bool, bool, std::size_t, std::size_t, std::vector<std::string>>;

TEST(ProactiveUpdateCoordinatorTest, StartsOnlyTheChecksThatAreDueAndAnnouncesAReleaseOnce) {
    const std::string available = "Update available: Tessaril 1.5 (Build 50).";
    const Case cases[] = {
        {"no switches", false, false, Before::nothing, During::nothing, false, false, 0, 0, {}},
        {"both due", true, true, Before::nothing, During::nothing, true, true, 1, 1, {available}},
        {"rules check running", true, true, Before::rulesCheck, During::nothing, false, true, 2, 1, {available}},
        {"release check running", true, true, Before::releaseCheck, During::nothing, true, false, 1, 2, {available}},
        {"weekly off before answer", false, true, Before::nothing, During::weeklyOff, false, true, 0, 1, {}},
        {"coordinator gone before answer", false, true, Before::nothing, During::gone, false, true, 0, 1, {}},
    };
    for (const auto& [name, dailyRules, weeklyApp, before, during, rulesClaimedAtStart, appClaimedAtStart,
                      manifestRequests, releaseRequests, expectedNotices] : cases) {
        testing::TemporaryDirectory folder;
        const FixedPaths paths(folder.path());
        InMemoryUserDefaults defaults;
        SettableClock clock(*parseInternetDateTime("2026-12-07T09:00:00Z"));
        ScriptedHttpsClient web;
        const nlohmann::json release = {{"currentVersion", "1.5"}, {"currentBuild", 50}};
        web.answer(DesktopUpdateChecker::releaseURL(),
                   {200, nlohmann::json{{"product", "Tessaril"}, {"desktop", release}}.dump(), {}});
        ManualTaskExecutor executor;
        const StaticUpdateSession session(web);
        RulesEngine engine(defaults, RulesEngineEnvironment{nullptr, &paths, [](std::string_view) {}});
        RulesUpdater rules(
            engine, defaults,
            {.paths = &paths, .diagnostic = [](std::string_view) {}, .session = &session, .executor = &executor});
        DesktopUpdateChecker desktop(session, executor);
        ProactivePreferences preferences(defaults);
        preferences.setDailyRules(dailyRules);
        preferences.setWeeklyApp(weeklyApp);
        if (before == Before::rulesCheck) rules.checkForUpdates(false);
        if (before == Before::releaseCheck) desktop.check("1.4", 40);

        const auto attempted = [&defaults](ProactivePreferences::Check check) {
            return defaults.objectExists(std::string(ProactivePreferences::lastAttemptPrefix) +
                                         std::string(rawValue(check)));
        };
        std::vector<std::string> notified;
        std::optional<ProactiveUpdateCoordinator> coordinator(
            std::in_place, ProactiveUpdateCoordinator::Services{rules, desktop, executor, clock}, "1.4", 40,
            [&notified](std::string_view text) { notified.emplace_back(text); });
        coordinator->start();
        coordinator->start();
        EXPECT_EQ(executor.runningTimers(), 1U) << name;
        EXPECT_EQ(executor.firstTimerInterval(), std::chrono::seconds(60)) << name;
        EXPECT_EQ(attempted(ProactivePreferences::Check::rules), rulesClaimedAtStart) << name;
        EXPECT_EQ(attempted(ProactivePreferences::Check::app), appClaimedAtStart) << name;
        if (during == During::weeklyOff) preferences.setWeeklyApp(false);
        if (during == During::gone) coordinator.reset();
        // The next hour: a check that was skipped because one was under way runs on a later tick, and
        // a check that ran is not repeated.
        for (int minute = 0; minute < 60; ++minute) {
            clock.advance(std::chrono::minutes(1));
            executor.fireTimers();
            executor.runBackgroundWork();
            executor.runMainTasks();
        }

        const auto requestsTo = [&web](std::string_view part) {
            return static_cast<std::size_t>(std::ranges::count_if(web.requests(), [part](const HttpsRequest& request) {
                return request.url.find(part) != std::string::npos;
            }));
        };
        EXPECT_EQ(requestsTo("/rules/"), manifestRequests) << name;
        EXPECT_EQ(requestsTo("/releases/"), releaseRequests) << name;
        EXPECT_EQ(notified, expectedNotices) << name;
        if (coordinator) coordinator->stop();
        EXPECT_EQ(executor.runningTimers(), 0U) << name;
    }
}

}  // namespace
}  // namespace tessaril
