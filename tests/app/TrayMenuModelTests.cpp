// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/menu/TrayMenuModel.h"
#include "core/transform/PrivacyRedirectSettings.h"
#include "tests/app/AppHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

// The group of a Reddit share link waiting for resolution, with the resolve entry's line and what follows it.
std::vector<std::string> shareLinkWaiting(const std::vector<std::string>& resolve) {
    std::vector<std::string> lines = {"# One more step needed",
                                      "Original: https://www.reddit.com/r/cpp/s/AbC?share_id=9",
                                      "Current URL (not resolved): https://www.reddit.com/r/cpp/s/AbC",
                                      "Copy Wayback Link",
                                      "Removed: share_id",
                                      "Needs action"};
    lines.insert(lines.end(), resolve.begin(), resolve.end());
    for (const char* line : {"Operation: removed locally", "Copy Original URL", "Disable Cleaning for This Site",
                             "Report Missed Tracker", "--", "No cleaned links yet"})
        lines.emplace_back(line);
    return lines;
}

TEST(TrayMenuModelTest, EachStateShowsItsGroups) {
    struct Case {
        std::string name;
        // What happens once the application has started, and what is shown then.
        std::function<void(testing::AppHarness&)> after;
        std::vector<std::string> expected;
        // What is stored before it starts.
        std::function<void(testing::AppHarness&)> before = {};
    };
    const Case cases[] = {
        {"fresh start", {}, {"No cleaned links yet"}},
        {"five names removed",
         [](auto& app) {
             app.copy("https://example.com/p?utm_source=a&utm_medium=b&utm_campaign=c&utm_term=d&utm_content=e&id=1");
         },
         {"# Last clean",
          "Original: https://example.com/p?utm_source=a&utm_medium=b&utm_campaign=c&utm_term=d&utm_content=e&id=1",
          "Cleaned: https://example.com/p?id=1", "Copy Wayback Link",
          "Removed: utm_source, utm_medium, utm_campaign, +2 more", "Operation: removed locally", "Copy Original URL",
          "Disable Cleaning for This Site", "Report Missed Tracker", "--", "1 URLs cleaned today"}},
        {"privacy rewrite only",
         [](auto& app) { app.copy("https://x.com/someone/status/1"); },
         {"# Last clean", "Original: https://x.com/someone/status/1", "Cleaned: https://xcancel.com/someone/status/1",
          "Copy Wayback Link", "Removed: privacy rewrite: x.com \u2192 xcancel.com",
          "Operation: privacy rewrite locally", "Copy Original URL", "Disable Cleaning for This Site",
          "Report Missed Tracker", "--", "1 URLs cleaned today"},
         [](auto& app) { app.defaults.set(PrivacyRedirectSettings::xRedirectEnabledKey, true); }},
        {"share link waiting", [](auto& app) { app.copy("https://www.reddit.com/r/cpp/s/AbC?share_id=9"); },
         shareLinkWaiting({"Resolve Direct Link (Network)"})},
        {"share link resolving",
         [](auto& app) {
             app.copy("https://www.reddit.com/r/cpp/s/AbC?share_id=9");
             app.state->monitor().resolvePendingShareLink();
         },
         shareLinkWaiting({"(off) Resolving Direct Link\u2026"})},
        {"share link failed",
         [](auto& app) {
             app.copy("https://www.reddit.com/r/cpp/s/AbC?share_id=9");
             app.state->monitor().resolvePendingShareLink();
             app.executor.runBackgroundWork();
             app.executor.runMainTasks();
         },
         shareLinkWaiting({"Resolve Direct Link (Network)",
                           "Resolution failed: The share link could not be resolved. "
                           "The current locally processed link was kept."})},
        {"risky command",
         [](auto& app) { app.copy("curl -fsSL https://sh.rustup.rs | sh"); },
         {"# Command Guard: Warning", "Review Command Warning\u2026",
          "Reason: Runs a script straight from the internet", "Matched: curl -fsSL https://sh.rustup.rs | sh",
          "Copy Risky Command", "Clear Command Warning", "--", "No cleaned links yet"}},
        {"skipped site",
         [](auto& app) {
             (void)app.state->exceptionStore().disable("example.org");
             app.copy("https://example.org/?utm_source=x");
         },
         {"Left unchanged \u2014 cleaning is turned off for example.org", "Manage site exceptions\u2026", "--",
          "No cleaned links yet"}},
    };
    for (const auto& c : cases) {
        testing::AppHarness app;
        if (c.before) c.before(app);
        AppState& state = app.start();
        if (c.after) c.after(app);
        EXPECT_EQ(middle(TrayMenuModel::build(state)), c.expected) << c.name;
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
