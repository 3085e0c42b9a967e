// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/clipboard/LastCleanRecorder.h"
#include "core/foundation/Dates.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
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
    EXPECT_EQ(recorder.current(), std::nullopt);
    // Undo on an empty recorder gives nothing and announces nothing.
    std::vector<std::optional<LastCleanRecord>> seen;
    auto connection = recorder.currentChanged().connect([&](const auto& value) { seen.push_back(value); });
    EXPECT_EQ(recorder.takeAndClear(), std::nullopt);
    recorder.clear();
    EXPECT_TRUE(seen.empty());

    recorder.record("https://a.example/?utm_source=x", "https://a.example/", "macOSClipboard");
    clock.advance(std::chrono::seconds(5));
    recorder.record("https://b.example/?fbclid=1", "https://b.example/", "macOSNetworkResolution");
    const LastCleanRecord second{"https://b.example/?fbclid=1", "https://b.example/", at("2026-12-05T10:00:05Z"),
                                 "macOSNetworkResolution"};
    EXPECT_EQ(recorder.current(), second);

    EXPECT_EQ(recorder.takeAndClear(), second);
    EXPECT_EQ(recorder.current(), std::nullopt);
    EXPECT_EQ(recorder.takeAndClear(), std::nullopt);

    // A new clean makes undo available again; clear() forgets it.
    recorder.record("https://c.example/?a=1", "https://c.example/", "macOSClipboard");
    EXPECT_TRUE(recorder.current());
    recorder.clear();
    EXPECT_EQ(recorder.current(), std::nullopt);

    ASSERT_EQ(seen.size(), 5U);
    EXPECT_EQ(seen[1], second);
    EXPECT_EQ(seen[2], std::nullopt);
    EXPECT_EQ(seen[4], std::nullopt);
}

TEST(LastCleanRecorderTest, ObserverMayTouchTheRecorderWhileBeingNotified) {
    LastCleanRecorder recorder;
    std::optional<LastCleanRecord> readBack;
    auto connection = recorder.currentChanged().connect([&](const auto&) { readBack = recorder.current(); });
    recorder.record("https://a.example/?x=1", "https://a.example/", "macOSClipboard");
    ASSERT_TRUE(readBack);
    EXPECT_EQ(readBack->cleanedURL, "https://a.example/");
}

TEST(LastCleanRecorderTest, ConcurrentUndoHandsTheRecordToExactlyOneCaller) {
    LastCleanRecorder recorder;
    constexpr int kRounds = 200;
    constexpr int kThreads = 4;
    for (int round = 0; round < kRounds; ++round) {
        recorder.record("https://a.example/?x=" + std::to_string(round), "https://a.example/", "macOSClipboard");
        std::atomic<int> winners{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                if (recorder.takeAndClear()) ++winners;
                (void)recorder.current();
            });
        }
        for (auto& thread : threads)
            thread.join();
        ASSERT_EQ(winners.load(), 1) << "round " << round;
    }
}

TEST(LastCleanRecorderTest, WritersOnManyThreadsLeaveOneCompleteRecord) {
    LastCleanRecorder recorder;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&recorder, t] {
            for (int i = 0; i < 500; ++i) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(i);
                recorder.record("https://o.example/" + tag, "https://c.example/" + tag, "macOSClipboard");
                if (i % 7 == 0) recorder.clear();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    recorder.record("https://o.example/last", "https://c.example/last", "macOSClipboard");
    auto last = recorder.current();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->originalURL, "https://o.example/last");
}

TEST(LastCleanRecordTest, JsonRoundTripAndUndecodableInput) {
    const LastCleanRecord record{"https://a.example/?utm_source=x&id=1", "https://a.example/?id=1",
                                 at("2026-12-05T10:00:00Z"), "macOSClipboard"};
    const std::string text = record.toJson().dump();
    EXPECT_EQ(text, R"({"originalURL":"https://a.example/?utm_source=x&id=1","cleanedURL":"https://a.example/?id=1",)"
                    R"("cleanedAt":"2026-12-05T10:00:00Z","surface":"macOSClipboard"})");
    EXPECT_EQ(LastCleanRecord::fromJsonText(text), record);

    // A time with a fraction of a second is stored to the whole second.
    LastCleanRecord fractional = record;
    fractional.cleanedAt += std::chrono::milliseconds(750);
    EXPECT_EQ(LastCleanRecord::fromJsonText(fractional.toJson().dump()), record);

    for (auto bad : {"", "{", "null", "[]", "\"text\"", R"({"originalURL":"a","cleanedURL":"b","surface":"c"})",
                     R"({"originalURL":"a","cleanedURL":"b","cleanedAt":"yesterday","surface":"c"})",
                     R"({"originalURL":1,"cleanedURL":"b","cleanedAt":"2026-12-05T10:00:00Z","surface":"c"})",
                     R"({"originalURL":"a","cleanedURL":"b","cleanedAt":1733392800,"surface":"c"})"}) {
        EXPECT_EQ(LastCleanRecord::fromJsonText(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(LastCleanRecord::fromJsonText("\xff\xfe{}"), std::nullopt);
}

}  // namespace
}  // namespace tessaril
