// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces that may be used from several threads, used from several threads: one preferences
// connection, the blocklist's process-wide lock against its lock-free lookups, the exception
// store's copy swapped under readers, and cleaners on their own engines sharing those stores.
// These also run under ThreadSanitizer (`make test-tsan`), which is what finds the races.
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tessaril {
namespace {

using namespace std::chrono_literals;

// Starts `count` threads running `body(index)` and waits for them all.
template <typename Body>
void onThreads(int count, Body body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < count; ++t)
        threads.emplace_back(body, t);
    for (auto& thread : threads)
        thread.join();
}

TEST(Concurrency, OneSqliteConnectionSharedByThreads) {
    testing::TemporaryDirectory folder;
    auto store = SqliteUserDefaults::open(folder.path() / "defaults.sqlite3", {.busyTimeout = 10s});
    ASSERT_TRUE(store->set("count", std::int64_t{0}));
    constexpr int kRounds = 50;
    onThreads(4, [&](int t) {
        auto suite = store->suite("thread" + std::to_string(t));
        for (int i = 0; i < kRounds; ++i) {
            const std::string key = "key" + std::to_string(i);
            EXPECT_TRUE(suite->set(key, std::to_string(t * 1000 + i)));
            EXPECT_EQ(suite->stringValue(key), std::to_string(t * 1000 + i));
            EXPECT_TRUE(store->transaction([](UserDefaults& defaults) {
                return defaults.set("count", defaults.intValue("count").value_or(0) + 1);
            }));
        }
    });
    EXPECT_EQ(store->intValue("count"), 4 * kRounds);
    EXPECT_EQ(store->suite("thread3")->stringValue("key49"), "3049");
}

// Editors on their own instances and connections, and a reader asking blocks() all the while: the
// reader only ever sees whole documents, so a rule once seen stays seen, and nothing is lost.
TEST(Concurrency, BlocklistEditsAgainstLookups) {
    testing::TemporaryDirectory folder;
    const auto file = folder.path() / "defaults.sqlite3";
    constexpr int kPerEditor = 25;
    std::atomic<bool> editing{true};
    std::thread reader([&] {
        auto store = SqliteUserDefaults::open(file, {.busyTimeout = 10s});
        CustomBlocklistStore blocklist(*store);
        bool seen = false;
        while (editing) {
            const bool now = blocklist.blocks("e0_0", "example.com");
            EXPECT_TRUE(now || !seen);
            seen = seen || now;
        }
    });
    onThreads(2, [&](int t) {
        auto store = SqliteUserDefaults::open(file, {.busyTimeout = 10s});
        CustomBlocklistStore blocklist(*store);
        for (int i = 0; i < kPerEditor; ++i) {
            const std::string name = "e" + std::to_string(t) + "_" + std::to_string(i);
            std::optional<CustomBlockError> error;
            while ((error = blocklist.add(name)) == CustomBlockError::conflict) {
            }
            EXPECT_EQ(error, std::nullopt) << name;
        }
    });
    editing = false;
    reader.join();
    auto store = SqliteUserDefaults::open(file);
    EXPECT_EQ(CustomBlocklistStore(*store).rules().size(), 2U * kPerEditor);
}

// One exception store: writers add sites under its lock while readers look hosts up without one.
TEST(Concurrency, ExceptionStoreCopySwappedUnderReaders) {
    InMemoryUserDefaults defaults;
    DomainExceptionStore exceptions(defaults);
    std::atomic<int> changes{0};
    auto connection = exceptions.disabledDomainsChanged().connect([&] { ++changes; });
    constexpr int kPerWriter = 40;
    std::atomic<int> writersLeft{2};
    onThreads(4, [&](int t) {
        if (t < 2) {
            for (int i = 0; i < kPerWriter; ++i)
                EXPECT_EQ(exceptions.disable("www.site" + std::to_string(t) + "-" + std::to_string(i) + ".example"),
                          std::nullopt);
            --writersLeft;
            return;
        }
        while (writersLeft > 0) {
            (void)exceptions.isDisabledURL("https://site0-0.example/?utm_source=x");
            (void)exceptions.disabledDomains();
        }
    });
    EXPECT_EQ(exceptions.disabledDomains().size(), 2U * kPerWriter);
    EXPECT_EQ(DomainExceptionStore(defaults).disabledDomains().size(), 2U * kPerWriter);
    EXPECT_EQ(changes.load(), 2 * kPerWriter);
}

// Each thread cleans with its own engine (engines are single-threaded), all sharing the user's
// stores over one preferences connection while another thread edits them.
TEST(Concurrency, CleanersOnTheirOwnEnginesShareTheStores) {
    testing::TemporaryDirectory folder;
    auto store = SqliteUserDefaults::open(folder.path() / "defaults.sqlite3", {.busyTimeout = 10s});
    DomainExceptionStore exceptions(*store);
    CustomBlocklistStore blocklist(*store);
    ASSERT_FALSE(blocklist.add("mytag"));
    const std::string rules =
        testing::readFile(std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data/cleaning/providers.json");
    std::atomic<bool> running{true};
    std::thread editor([&] {
        for (int i = 0; running; ++i) {
            EXPECT_EQ(exceptions.disable("other" + std::to_string(i % 5) + ".example"), std::nullopt);
            EXPECT_EQ(exceptions.enable("other" + std::to_string((i + 2) % 5) + ".example"), std::nullopt);
        }
    });
    onThreads(3, [&](int) {
        InMemoryUserDefaults own;
        RulesEngine engine(own, {nullptr, nullptr, [](std::string_view) {}});
        ASSERT_TRUE(engine.loadRules(rules));
        URLCleaner cleaner(engine, &exceptions);
        cleaner.setCustomBlocklist(&blocklist);
        for (int i = 0; i < 30; ++i) {
            const auto result = cleaner.clean("https://example.com/?mytag=" + std::to_string(i) + "&utm_source=x&id=1");
            ASSERT_TRUE(result);
            EXPECT_EQ(result->cleanedURL, "https://example.com/?id=1");
        }
    });
    running = false;
    editor.join();
}

}  // namespace
}  // namespace tessaril
