// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/state/AppVersion.h"
#include "core/guard/RuleBundle.h"
#include "core/preferences/ProactivePreferences.h"
#include "tests/app/AppHarness.h"
#include "tests/support/RuleReleases.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tessaril {
namespace {

using Icon = AppState::MenuBarIcon;

TEST(AppStateTest, StartsWatchingTheClipboardWithTheInstalledRules) {
    testing::AppHarness app;
    AppState& state = app.start();
    EXPECT_EQ(state.rulesUpdater().loadedSource(), RulesUpdater::RulesSource::shipped);
    EXPECT_EQ(app.notifier.permissionRequests(), 1U);
    EXPECT_TRUE(state.updateCoordinator().isRunning());
    int changes = 0;
    const auto connection = state.changed().connect([&changes] { ++changes; });

    app.copy("https://example.com/page?utm_source=news&id=7");
    EXPECT_EQ(app.clipboard(), "https://example.com/page?id=7");
    EXPECT_EQ(state.lastCleanRecorder().current().value().originalURL, "https://example.com/page?utm_source=news&id=7");
    EXPECT_EQ(state.monitor().cleanedCountToday(), 1);
    EXPECT_GT(changes, 0);
}

TEST(AppStateTest, TheIconShowsWarningsFirstThenTheAutoCleanSwitch) {
    testing::AppHarness app;
    ProactivePreferences(app.defaults).setUnknownAlerts(true);
    AppState& state = app.start();
    ClipboardMonitor& monitor = state.monitor();
    const std::pair<std::function<void()>, Icon> steps[] = {
        {[] {}, Icon::linkFilled},
        {[&] { app.copy("https://example.com/?utm_source=x&share_campaign=9"); }, Icon::warning},
        {[&] { monitor.clearUnknownParameters(); }, Icon::linkFilled},
        {[&] { monitor.setEnabled(false); }, Icon::linkOutline},
        {[&] { app.copy("curl -fsSL https://sh.rustup.rs | sh"); }, Icon::warning},
        {[&] { monitor.clearLastCommandRisk(); }, Icon::linkOutline},
    };
    for (std::size_t step = 0; step < std::size(steps); ++step) {
        steps[step].first();
        EXPECT_EQ(state.menuBarIcon(), steps[step].second) << "step " << step;
    }
}

TEST(AppStateTest, RulesInstalledLaterReplaceTheCommandGuard) {
    testing::AppHarness app;
    AppState& state = app.start();
    const std::string shippedGuard = state.monitor().commandGuard().rulesVersion();
    int reloads = 0;
    const auto connection = state.monitor().changed().connect([&reloads](ClipboardMonitor::Property property) {
        reloads += property == ClipboardMonitor::Property::commandGuard;
    });

    const std::string guardRules =
        RuleBundle{"cg-2", {{"r", "bash", CommandRiskSeverity::warning, "evil", "Evil", "x"}}}.toJson().dump();
    testing::publishRelease(app.web, "2026.12.20", testing::releaseFiles("release", guardRules), app.signingKey);
    state.rulesUpdater().checkForUpdates(false);
    app.executor.runBackgroundWork();
    app.executor.runMainTasks();
    state.rulesUpdater().installAvailableUpdate(false);
    app.executor.runBackgroundWork();
    app.executor.runMainTasks();

    EXPECT_EQ(state.rulesUpdater().installedCommandGuardVersion(), "cg-2");
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(state.monitor().commandGuard().rulesVersion(), "cg-2");
    EXPECT_NE(shippedGuard, "cg-2");
}

TEST(AppStateTest, VersionFallsBackOnlyWhereTheBuildSaysNothing) {
    const std::pair<std::pair<std::optional<std::string_view>, std::optional<std::string_view>>, AppVersion> cases[] = {
        {{"0.1.0", "57"}, {"0.1.0", 57}}, {{std::nullopt, std::nullopt}, {"1.3", 21}},
        {{"", "+8"}, {"1.3", 8}},         {{"2.0", "-3"}, {"2.0", -3}},
        {{"2.0", "4a"}, {"2.0", 21}},     {{"2.0", "+-4"}, {"2.0", 21}},
        {{"2.0", ""}, {"2.0", 21}},       {{"2.0", "99999999999999999999"}, {"2.0", 21}},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(AppVersion::from(input.first, input.second), expected)
            << input.first.value_or("-") << " " << input.second.value_or("-");
}

TEST(AppStateTest, WhatTheDesktopRefusesIsToldAndTheUsersChoiceKept) {
    testing::AppHarness app;
    AppState& state = app.start();
    EXPECT_FALSE(state.takeOpenPreferencesAtStart());

    // No tray: said once, on standard error and as a banner; the next start opens the preferences.
    state.reportNoTrayHost();
    state.reportNoTrayHost();
    EXPECT_EQ(app.err.str(), "tessaril: " + std::string(AppState::noTrayHostText) + "\n");
    ASSERT_EQ(app.notifier.shown().size(), 1U);
    EXPECT_EQ(app.notifier.shown()[0].body, AppState::noTrayHostText);
    AppState& next = app.start();
    EXPECT_TRUE(next.takeOpenPreferencesAtStart());
    EXPECT_FALSE(next.takeOpenPreferencesAtStart());

    EXPECT_FALSE(next.launchAtLogin());
    app.shell.launchAtLoginError = "no autostart folder";
    next.setLaunchAtLogin(true);
    EXPECT_TRUE(next.launchAtLogin());
    EXPECT_EQ(app.out.str(), "Failed to set launch at login: no autostart folder\n");
    EXPECT_EQ(app.shell.calls, std::vector<std::string>{"login on"});
}

}  // namespace
}  // namespace tessaril
