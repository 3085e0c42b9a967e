// SPDX-License-Identifier: GPL-3.0-or-later
// The Wayland clipboard adapter against a real compositor (run-under-sway.sh starts one), with
// wl-copy and wl-paste as the other programs on the desktop.
#include "platform/clipboard_wayland/DataControlSession.h"
#include "platform/clipboard_wayland/PipeTransfer.h"
#include "platform/clipboard_wayland/WaylandPasteboard.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

namespace tessaril {
namespace {

using namespace std::chrono_literals;

struct Command {
    int status;
    std::string output;
};

// Runs a shell command with `input` on its standard input (from a file: popen has one direction).
Command run(const std::string& command, const std::string& input = "") {
    const std::string inputFile = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/input";
    std::ofstream(inputFile, std::ios::binary) << input;
    FILE* pipe = ::popen((command + " <" + inputFile).c_str(), "r");
    Command result{-1, {}};
    char chunk[65536];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        result.output.append(chunk, got);
    result.status = ::pclose(pipe);
    return result;
}

bool eventually(const std::function<bool()>& condition) {
    for (auto deadline = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < deadline;) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

// Long enough for the compositor to announce a change to every client.
void settle() {
    std::this_thread::sleep_for(300ms);
}

// What a program that owns the clipboard sends decides what a read gets: never a wait without end.
TEST(ReadToEnd, TakesOnlyWholeContentsWithinTheCapAndTheTimeOut) {
    struct Case {
        const char* name;
        std::string sent;
        bool closes;
        std::optional<std::string> read;
    };
    const Case cases[] = {
        {"all of it, then the end", "0123456789", true, "0123456789"},
        {"nothing, then the end", "", true, ""},
        {"more than the cap", "0123456789a", true, std::nullopt},
        {"no end", "0123", false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        ASSERT_EQ(::write(ends[1], c.sent.data(), c.sent.size()), static_cast<ssize_t>(c.sent.size()));
        if (c.closes) ::close(ends[1]);
        EXPECT_EQ(readToEnd(ends[0], 10, 100ms), c.read);
        if (!c.closes) ::close(ends[1]);
    }
}

class WaylandPasteboardTest : public testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("WAYLAND_DISPLAY") == nullptr) GTEST_SKIP() << "no Wayland compositor (run-under-sway.sh)";
        auto connection = WaylandPasteboard::connect();
        ASSERT_TRUE(std::holds_alternative<std::unique_ptr<WaylandPasteboard>>(connection))
            << std::get<std::string>(connection);
        pasteboard = std::get<std::unique_ptr<WaylandPasteboard>>(std::move(connection));
    }

    // Waits for the change that `copy` makes, then checks it counted once.
    void expectOneChange(const std::function<void()>& copy) {
        const auto before = pasteboard->changeCount();
        copy();
        EXPECT_TRUE(eventually([&] { return pasteboard->changeCount() > before; }));
        settle();
        EXPECT_EQ(pasteboard->changeCount(), before + 1);
    }

    std::unique_ptr<WaylandPasteboard> pasteboard;
};

const std::string kMegabyte = [] {
    std::string text;
    while (text.size() < 1'000'000)
        text += "line " + std::to_string(text.size()) + " ünïcode\n";
    return text;
}();

TEST_F(WaylandPasteboardTest, AnotherProgramsCopyCountsOnceAndReadsAsItsText) {
    struct Case {
        const char* name;
        std::string command;
        std::string input;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"text", "wl-copy", "https://shop.example/item?id=3&utm_source=mail\n",
         "https://shop.example/item?id=3&utm_source=mail\n"},
        {"an image", "wl-copy --type image/png", "\x89PNG\r\n", std::nullopt},
        {"a megabyte of text", "wl-copy --type text/plain", kMegabyte, kMegabyte},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectOneChange([&] { ASSERT_EQ(run(c.command, c.input).status, 0); });
        EXPECT_EQ(pasteboard->plainText(), c.text);
        EXPECT_FALSE(pasteboard->isConcealed());
    }
}

TEST_F(WaylandPasteboardTest, OwnWriteCountsOnceAndPastesExactly) {
    for (const std::string& text : {std::string("tab\tand newline\n end"), kMegabyte}) {
        SCOPED_TRACE(text.size());
        expectOneChange([&] { pasteboard->writePlainText(text); });
        const Command paste = run("wl-paste --no-newline");
        EXPECT_EQ(paste.status, 0);
        EXPECT_TRUE(paste.output == text);
        EXPECT_TRUE(pasteboard->plainText() == text);
    }
}

TEST_F(WaylandPasteboardTest, ReadersThatStallOrLeaveNeitherBlockNorEndTheProgram) {
    pasteboard->writePlainText(kMegabyte);
    // A reader that leaves after a byte: the rest of the write meets a closed pipe.
    run("wl-paste | head -c 1 >/dev/null");
    // A reader that takes nothing for a while, then leaves too.
    run("(wl-paste | sleep 4) >/dev/null 2>&1 &");
    expectOneChange([&] { ASSERT_EQ(run("wl-copy", "next").status, 0); });
    EXPECT_EQ(pasteboard->plainText(), "next");
}

TEST_F(WaylandPasteboardTest, ClearCountsOnceAndLeavesNothingToPaste) {
    ASSERT_EQ(run("wl-copy", "something").status, 0);
    ASSERT_TRUE(eventually([&] { return pasteboard->plainText() == "something"; }));
    expectOneChange([&] { pasteboard->clear(); });
    EXPECT_NE(run("wl-paste --no-newline 2>/dev/null").status, 0);
    EXPECT_EQ(pasteboard->plainText(), std::nullopt);
}

TEST_F(WaylandPasteboardTest, PasswordManagersHintConcealsTheContents) {
    // Another program, offering its text with the hint as a password manager does.
    auto other = DataControlSession::open();
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<DataControlSession>>(other));
    auto& manager = *std::get<std::unique_ptr<DataControlSession>>(other);
    manager.start([] {});
    const auto secret = std::make_shared<const std::string>("hunter2");
    expectOneChange([&] {
        manager.select({{"text/plain;charset=utf-8", secret},
                        {"x-kde-passwordManagerHint", std::make_shared<const std::string>("secret")}});
    });
    EXPECT_TRUE(pasteboard->isConcealed());
    expectOneChange([&] { ASSERT_EQ(run("wl-copy", "plain").status, 0); });
    EXPECT_FALSE(pasteboard->isConcealed());
}

TEST_F(WaylandPasteboardTest, CompositorGoneStopsCountingAndReadsNothing) {
    ASSERT_EQ(run("wl-copy", "before").status, 0);
    ASSERT_TRUE(eventually([&] { return pasteboard->plainText() == "before"; }));
    const char* compositor = std::getenv("TESSARIL_TEST_COMPOSITOR_PID");
    ASSERT_NE(compositor, nullptr);
    ASSERT_EQ(::kill(std::atoi(compositor), SIGKILL), 0);
    EXPECT_TRUE(eventually([&] { return !pasteboard->plainText(); }));
    const auto count = pasteboard->changeCount();
    pasteboard->writePlainText("after");
    pasteboard->clear();
    EXPECT_EQ(pasteboard->changeCount(), count);
    EXPECT_FALSE(pasteboard->isConcealed());
    pasteboard.reset();
}

}  // namespace
}  // namespace tessaril
