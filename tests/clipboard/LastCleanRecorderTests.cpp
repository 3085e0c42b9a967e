// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/clipboard/LastCleanRecorder.h"
#include "core/foundation/Dates.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tessaril {
namespace {

Date at(const char* text) {
    return *parseInternetDateTime(text);
}

TEST(LastCleanRecorderTest, KeepsOnlyTheLatestCleanAndUndoesItOnce) {
    SettableClock clock(at("2026-12-05T10:00:00Z"));
    LastCleanRecorder recorder(clock);
    std::vector<std::optional<LastCleanRecord>> seen;
    auto connection = recorder.currentChanged().connect([&](const auto& value) { seen.push_back(value); });
    EXPECT_EQ(recorder.takeAndClear(), std::nullopt);  // empty: nothing, and nothing announced
    EXPECT_TRUE(seen.empty());

    recorder.record("https://a.example/?utm_source=x", "https://a.example/", "macOSClipboard");
    clock.advance(std::chrono::seconds(5));
    recorder.record("https://b.example/?fbclid=1", "https://b.example/", "macOSNetworkResolution");
    const LastCleanRecord second{"https://b.example/?fbclid=1", "https://b.example/", at("2026-12-05T10:00:05Z"),
                                 "macOSNetworkResolution"};
    EXPECT_EQ(recorder.takeAndClear(), second);
    EXPECT_EQ(recorder.takeAndClear(), std::nullopt);

    recorder.record("https://c.example/?a=1", "https://c.example/", "macOSClipboard");
    EXPECT_TRUE(recorder.current());
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
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                if (recorder.takeAndClear()) ++winners;
            });
        }
        for (auto& thread : threads)
            thread.join();
        ASSERT_EQ(winners.load(), 1) << "round " << round;
    }
    EXPECT_EQ(notifications.load(), 400);
}

TEST(LastCleanRecordTest, JsonRoundTripAndUndecodableInput) {
    LastCleanRecord record{"https://a.example/?utm_source=x&id=1", "https://a.example/?id=1",
                           at("2026-12-05T10:00:00Z"), "macOSClipboard"};
    EXPECT_EQ(record.toJson().dump(),
              R"({"originalURL":"https://a.example/?utm_source=x&id=1","cleanedURL":"https://a.example/?id=1",)"
              R"("cleanedAt":"2026-12-05T10:00:00Z","surface":"macOSClipboard"})");
    const LastCleanRecord whole = record;
    record.cleanedAt += std::chrono::milliseconds(750);  // stored to the whole second
    EXPECT_EQ(LastCleanRecord::fromJsonText(record.toJson().dump()), whole);

    for (auto bad :
         {"", "{", "null", "[]", R"({"originalURL":"a","cleanedURL":"b","surface":"c"})",
          R"({"originalURL":"a","cleanedURL":"b","cleanedAt":"yesterday","surface":"c"})",
          R"({"originalURL":1,"cleanedURL":"b","cleanedAt":"2026-12-05T10:00:00Z","surface":"c"})", "\xff\xfe{}"}) {
        EXPECT_EQ(LastCleanRecord::fromJsonText(bad), std::nullopt) << bad;
    }
}

}  // namespace
}  // namespace tessaril
