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
#include "tests/support/CaseTable.h"
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

TEST(ProactiveUpdateCoordinatorTest, StartsOnlyTheChecksThatAreDueAndAnnouncesAReleaseOnce) {
    const auto cases = testing::readCases("updates/proactive-checks.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const std::string name = row[0];
        const std::string before = row[3];
        const std::string during = row[4];
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
        preferences.setDailyRules(row[1].get<bool>());
        preferences.setWeeklyApp(row[2].get<bool>());
        if (before == "rules") rules.checkForUpdates(false);
        if (before == "release") desktop.check("1.4", 40);

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
        EXPECT_EQ(attempted(ProactivePreferences::Check::rules), row[5].get<bool>()) << name;
        EXPECT_EQ(attempted(ProactivePreferences::Check::app), row[6].get<bool>()) << name;
        if (during == "weekly off") preferences.setWeeklyApp(false);
        if (during == "gone") coordinator.reset();
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
        EXPECT_EQ(requestsTo("/rules/"), row[7].get<std::size_t>()) << name;
        EXPECT_EQ(requestsTo("/releases/"), row[8].get<std::size_t>()) << name;
        EXPECT_EQ(notified, row[9].get<std::vector<std::string>>()) << name;
        if (coordinator) coordinator->stop();
        EXPECT_EQ(executor.runningTimers(), 0U) << name;
    }
}

}  // namespace
}  // namespace tessaril
