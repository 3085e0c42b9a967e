// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/clipboard/LastCleanRecorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/foundation/Dates.h"

namespace tessaril {
namespace {

TEST(LastCleanRecorderTest, KeepsOnlyTheLatestCleanAndUndoesItOnce) {
    SettableClock clock(*parseInternetDateTime("2026-12-05T10:00:00Z"));
    LastCleanRecorder recorder(clock);
    std::vector<std::optional<LastCleanRecord>> seen;
    auto connection = recorder.currentChanged().connect([&](const auto& value) { seen.push_back(value); });
    EXPECT_EQ(recorder.takeAndClear(), std::nullopt);  // empty: nothing, and nothing announced
    recorder.record("https://a.example/?utm_source=x", "https://a.example/", "macOSClipboard");
    clock.advance(std::chrono::seconds(5));
    recorder.record("https://b.example/?fbclid=1", "https://b.example/", "macOSNetworkResolution");
    const LastCleanRecord second{"https://b.example/?fbclid=1", "https://b.example/",
                                 *parseInternetDateTime("2026-12-05T10:00:05Z"), "macOSNetworkResolution"};
    EXPECT_EQ(recorder.takeAndClear(), second);
    EXPECT_EQ(recorder.takeAndClear(), std::nullopt);
    recorder.record("https://c.example/?a=1", "https://c.example/", "macOSClipboard");
    recorder.clear();
    EXPECT_EQ(recorder.current(), std::nullopt);
    ASSERT_EQ(seen.size(), 5U);
    EXPECT_EQ(seen[1], second);
    EXPECT_EQ(seen[2], std::nullopt);
}

TEST(LastCleanRecorderTest, ConcurrentUndoHandsTheRecordToExactlyOneCaller) {
    LastCleanRecorder recorder;
    // A slot reading the recorder while it is being notified must not deadlock.
    std::atomic<int> notifications{0};
    auto connection = recorder.currentChanged().connect([&](const auto&) {
        (void)recorder.current();
        ++notifications;
    });
    for (int round = 0; round < 200; ++round) {
        recorder.record("https://a.example/?x=" + std::to_string(round), "https://a.example/", "macOSClipboard");
        std::atomic<int> winners{0};
        {
            std::vector<std::jthread> threads;
            for (int t = 0; t < 4; ++t)
                threads.emplace_back([&] { winners += recorder.takeAndClear() ? 1 : 0; });
        }
        ASSERT_EQ(winners.load(), 1) << "round " << round;
    }
    EXPECT_EQ(notifications.load(), 400);
}

}  // namespace
}  // namespace tessaril
