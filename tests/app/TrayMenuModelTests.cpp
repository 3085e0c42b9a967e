// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/menu/TrayMenuModel.h"
#include "core/transform/PrivacyRedirectSettings.h"
#include "tests/app/AppHarness.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tessaril {
namespace {

using Kind = MenuEntry::Kind;

// The entries between the switches and the window entries, one line each: a separator as "--", a
// header as "# " + text, an entry that cannot be chosen as "(off) " + text.
std::vector<std::string> middle(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> lines;
    for (const auto& entry : entries) {
        const char* mark = entry.kind == Kind::header ? "# " : !entry.enabled ? "(off) " : "";
        lines.push_back(entry.kind == Kind::separator ? "--" : mark + entry.text);
    }
    const auto first = std::find(lines.begin(), lines.end(), "--");
    const auto last = std::find(lines.rbegin(), lines.rend(), "--").base() - 1;
    return {first + 1, last};
}

const MenuEntry& entryNamed(const std::vector<MenuEntry>& entries, std::string_view prefix) {
    const auto found =
        std::ranges::find_if(entries, [prefix](const MenuEntry& entry) { return entry.text.starts_with(prefix); });
    EXPECT_NE(found, entries.end()) << prefix;
    return *found;
}

TEST(TrayMenuModelTest, EachStateShowsItsGroups) {
    const auto share = [](int steps) {
        return [steps](testing::AppHarness& app) {
            app.copy("https://www.reddit.com/r/cpp/s/AbC?share_id=9");
            if (steps > 0) app.state->monitor().resolvePendingShareLink();
            if (steps < 2) return;
            app.executor.runBackgroundWork();
            app.executor.runMainTasks();
        };
    };
    const auto copying = [](std::string text) { return [text](testing::AppHarness& app) { app.copy(text); }; };
    // What is stored before the application starts, and what happens once it has.
    using Step = std::function<void(testing::AppHarness&)>;
    const std::map<std::string, std::pair<Step, Step>> states = {
        {"fresh start", {}},
        {"five names removed",
         {{}, copying("https://example.com/p?utm_source=a&utm_medium=b&utm_campaign=c&utm_term=d&utm_content=e&id=1")}},
        {"privacy rewrite only",
         {[](auto& app) { app.defaults.set(PrivacyRedirectSettings::xRedirectEnabledKey, true); },
          copying("https://x.com/someone/status/1")}},
        {"share link waiting", {{}, share(0)}},
        {"share link resolving", {{}, share(1)}},
        {"share link failed", {{}, share(2)}},
        {"risky command", {{}, copying("curl -fsSL https://sh.rustup.rs | sh")}},
        {"skipped site",
         {{},
          [](auto& app) {
              (void)app.state->exceptionStore().disable("example.org");
              app.copy("https://example.org/?utm_source=x");
          }}},
    };
    const auto cases = testing::readCases("app/tray-menu-states.json");
    ASSERT_EQ(cases.size(), states.size());
    for (const auto& row : cases) {
        const auto& [before, after] = states.at(row[0]);
        testing::AppHarness app;
        if (before) before(app);
        AppState& state = app.start();
        if (after) after(app);
        EXPECT_EQ(middle(TrayMenuModel::build(state)), row[1].get<std::vector<std::string>>()) << row[0];
    }
}

TEST(TrayMenuModelTest, ActionsReachTheMonitorTheClipboardAndTheDesktop) {
    testing::AppHarness app;
    AppState& state = app.start();
    const auto choose = [&state](std::string_view text) { entryNamed(TrayMenuModel::build(state), text).action(); };

    app.copy("https://maps.apple.com/?saddr=Home&daddr=Work&utm_source=x");
    std::vector<CleanOperationKind> stepsWhenOpened;
    app.shell.beforeOpeningUrl = [&] {
        for (const auto& operation : state.monitor().lastCleanedResult()->operations)
            stepsWhenOpened.push_back(operation.kind);
    };
    choose("Open in Google Maps (Local)");
    EXPECT_EQ(stepsWhenOpened, (std::vector<CleanOperationKind>{CleanOperationKind::localParameterRemoval,
                                                                CleanOperationKind::functionalTransformation}));
    EXPECT_TRUE(entryNamed(TrayMenuModel::build(state), "Operation: transformed locally").enabled);

    app.copy("curl -fsSL https://sh.rustup.rs | sh");
    app.pasteboard.copyText("something else");
    choose("Copy Risky Command");
    EXPECT_EQ(app.clipboard(), "curl -fsSL https://sh.rustup.rs | sh");

    choose("Auto-Clean Copied Links: ON");
    EXPECT_FALSE(state.monitor().isEnabled());
    EXPECT_FALSE(entryNamed(TrayMenuModel::build(state), "Auto-Clean Copied Links: OFF").checked);

    for (const char* window : {"Report Missed Tracker", "Welcome and How It Works", "Preferences", "Quit Tessaril"})
        choose(window);
    EXPECT_EQ(app.shell.calls,
              (std::vector<std::string>{"url https://www.google.com/maps/dir/?api=1&origin=Home&destination=Work",
                                        "open report", "open welcome", "open settings", "quit"}));
}

// (More names and a privacy rewrite are in the menus above.)
TEST(TrayMenuModelTest, RemovedSummarySaysWhatTheCleanTookOut) {
    const auto result = [](std::vector<std::string> removed, std::string cleaned) {
        CleanResult r;
        r.originalURL = "https://example.com/a";
        r.cleanedURL = std::move(cleaned);
        r.removedQueryParameters = std::move(removed);
        return r;
    };
    const std::pair<CleanResult, std::string> cases[] = {
        {result({"a", "b", "c"}, "x"), "a, b, c"},
        {result({}, "https://example.com/a"), "nothing"},
        {result({}, "https://example.com/b"), "redirect or path pattern"},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(TrayMenuModel::removedSummary(input), expected) << expected;
}

}  // namespace
}  // namespace tessaril
