// SPDX-License-Identifier: GPL-3.0-or-later
// The application's Qt services that need no display server: the executor, the placeholder
// windows, and the choice of clipboard adapter (Qt's offscreen platform stands in for a display).
#include "app/desktop/PasteboardChoice.h"
#include "app/desktop/QtDesktopShell.h"
#include "app/desktop/QtTaskExecutor.h"
#include "tests/desktop/QtEventLoop.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <map>
#include <numeric>
#include <thread>
#include <vector>

namespace tessaril {
namespace {

using namespace std::chrono_literals;

TEST(QtTaskExecutor, ThreadsHandTheirResultsToTheMainThreadEachInPostingOrder) {
    QtTaskExecutor executor;
    const auto mainThread = std::this_thread::get_id();
    int results = 0;
    int sum = 0;
    bool allOnMain = true;
    for (int i = 1; i <= 20; ++i) {
        runInBackgroundThen(
            executor, [i] { return i; },
            [&](int result) {
                allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
                ++results;
                sum += result;
            });
    }
    // Several threads post at once while the main thread keeps its loop busy, so that wake-ups
    // cross one another and the main thread is seldom asleep when they come.
    constexpr int kThreads = 4;
    constexpr int kPosts = 2000;
    std::vector<std::vector<int>> inOrder(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        executor.runInBackground([&, t] {
            for (int k = 0; k < kPosts; ++k)
                executor.postToMain([&, t, k] { inOrder[t].push_back(k); });
        });
    }
    const auto allIn = [&] {
        return results == 20 && std::all_of(inOrder.begin(), inOrder.end(),
                                            [](auto& posts) { return posts.size() == std::size_t{kPosts}; });
    };
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         !allIn() && std::chrono::steady_clock::now() < deadline;)
        QCoreApplication::processEvents();
    ASSERT_TRUE(allIn());
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(sum, 210);
    std::vector<int> expected(kPosts);
    std::iota(expected.begin(), expected.end(), 0);
    for (const auto& posts : inOrder)
        EXPECT_EQ(posts, expected);
}

// The executor waits for work still running when it goes; what that work posts is never run.
TEST(QtTaskExecutor, ThreadsStillRunningWhenItGoesAreAwaitedAndTheirPostsDropped) {
    std::atomic<bool> finished = false;
    bool posted = false;
    {
        QtTaskExecutor executor;
        executor.runInBackground([&] {
            std::this_thread::sleep_for(100ms);
            executor.postToMain([&] { posted = true; });
            finished = true;
        });
    }
    EXPECT_TRUE(finished);
    settle();
    EXPECT_FALSE(posted);
}

TEST(QtTaskExecutor, RepeatingTicksLastAsLongAsTheirConnection) {
    QtTaskExecutor executor;
    int ticks = 0;
    auto connection = executor.scheduleRepeating(20ms, [&] { ++ticks; });
    EXPECT_TRUE(eventually([&] { return ticks >= 3; }));
    connection.disconnect();
    const int stoppedAt = ticks;
    settle();
    EXPECT_EQ(ticks, stoppedAt);

    // A tick may drop its own connection; a connection may outlive its executor.
    int selfStopping = 0;
    ScopedConnection own;
    own = executor.scheduleRepeating(10ms, [&] {
        ++selfStopping;
        own.disconnect();
    });
    settle();
    EXPECT_EQ(selfStopping, 1);
    ScopedConnection outliving;
    {
        QtTaskExecutor gone;
        outliving = gone.scheduleRepeating(10ms, [] {});
    }
    outliving.disconnect();
}

TEST(QtDesktopShell, OpensOnePlaceholderWindowPerIdentifierAndSetsLaunchAtLogin) {
    const testing::TemporaryDirectory config;
    QtDesktopShell shell(XdgAutostart(config.path(), "/usr/bin/tessaril-app"));
    for (const char* identifier : {"settings", "welcome", "report", "settings", "unknown"})
        shell.openWindow(identifier);
    std::map<QString, QSize> windows;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) continue;
        EXPECT_TRUE(window->findChild<QLabel*>()->text().contains(QStringLiteral("later version"))) << window;
        windows.emplace(window->windowTitle(), window->size());
    }
    EXPECT_EQ(windows, (std::map<QString, QSize>{{"Tessaril Preferences", {960, 640}},
                                                 {"Welcome to Tessaril", {460, 420}},
                                                 {"Review Report", {560, 560}}}));
    EXPECT_EQ(QApplication::topLevelWidgets().size(), 3);

    // A closed window opens anew.
    for (QWidget* window : QApplication::topLevelWidgets())
        window->close();
    settle();
    shell.openWindow("welcome");
    EXPECT_EQ(QApplication::topLevelWidgets().size(), 1);

    EXPECT_EQ(shell.setLaunchAtLogin(true), std::nullopt);
    EXPECT_TRUE(std::filesystem::exists(config.path() / "autostart/tessaril.desktop"));
    EXPECT_EQ(shell.setLaunchAtLogin(false), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(config.path() / "autostart/tessaril.desktop"));
}

TEST(PasteboardChoice, FollowsTheSessionAndWhatTheCompositorOffers) {
    struct Case {
        const char* name;
        std::map<std::string, std::string, std::less<>> environment;
        bool waylandConnects;
        PasteboardChoice::Kind kind;
        bool forceX11;
        const char* messageStart;
    };
    using enum PasteboardChoice::Kind;
    const Case cases[] = {
        {"wayland with data control", {{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, true, Wayland, false, ""},
        {"without it, xwayland", {{"WAYLAND_DISPLAY", "w"}, {"DISPLAY", ":0"}}, false, X11, true, "This desktop does"},
        {"without it, no xwayland", {{"WAYLAND_DISPLAY", "w"}, {"DISPLAY", ""}}, false, None, false, "Tessaril cannot"},
        {"x11", {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", ""}}, true, X11, false, ""},
        {"nothing", {}, true, None, false, "Tessaril needs a graphical session"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int connects = 0;
        const auto choice = choosePasteboard(
            [&](std::string_view name) -> std::optional<std::string> {
                const auto found = c.environment.find(name);
                if (found == c.environment.end()) return std::nullopt;
                return found->second;
            },
            [&]() -> std::variant<std::unique_ptr<Pasteboard>, std::string> {
                ++connects;
                if (c.waylandConnects) return std::make_unique<InMemoryPasteboard>();
                return "no data control";
            });
        EXPECT_EQ(choice.kind, c.kind);
        EXPECT_EQ(choice.wayland != nullptr, c.kind == Wayland);
        EXPECT_EQ(choice.forceX11, c.forceX11);
        EXPECT_TRUE(choice.message.starts_with(c.messageStart)) << choice.message;
        EXPECT_EQ(choice.message.empty(), std::string_view(c.messageStart).empty());
        EXPECT_EQ(connects, c.environment.contains("WAYLAND_DISPLAY") && !c.environment.at("WAYLAND_DISPLAY").empty());
    }
}

}  // namespace
}  // namespace tessaril

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
