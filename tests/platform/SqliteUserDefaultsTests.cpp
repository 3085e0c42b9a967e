// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/defaults/SqliteUserDefaults.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::readFile;

// Runs `sql` on a second, raw connection, as another process would hold it, and keeps it open.
std::unique_ptr<sqlite3, int (*)(sqlite3*)> rawConnection(const fs::path& file, const char* sql) {
    sqlite3* database = nullptr;
    sqlite3_open(file.c_str(), &database);
    EXPECT_EQ(sqlite3_exec(database, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    return {database, sqlite3_close};
}

class SqliteUserDefaultsTest : public ::testing::Test {
protected:
    testing::TemporaryDirectory folder;
    const fs::path file = folder.path() / "defaults.sqlite3";
};

TEST_F(SqliteUserDefaultsTest, ConnectionsToOneFileSeeEachOthersWrites) {
    const fs::path nested = folder.path() / "nested" / "tessaril" / "defaults.sqlite3";
    auto app = SqliteUserDefaults::open(nested);
    auto cli = SqliteUserDefaults::open(nested);
    ASSERT_TRUE(app->set("enabled", true));
    EXPECT_EQ(cli->boolValue("enabled"), true);
    cli->suite("trial")->set("key", std::string("x"));
    EXPECT_EQ(app->suite("trial")->stringValue("key"), "x");
    app->removeSuite("trial");
    EXPECT_FALSE(cli->suite("trial")->objectExists("key"));
    app.reset();
    cli.reset();
    EXPECT_EQ(SqliteUserDefaults::open(nested)->boolValue("enabled"), true);
}

// A damaged file is never written over: a read-only store leaves it in place and reads as empty; a
// writable one moves it aside with its write-ahead log before anything is written, and carries on
// with a new file. Either says so once. (tests/cli damages the file in several ways.)
TEST_F(SqliteUserDefaultsTest, DamagedFileIsMovedAsideNeverWrittenOver) {
    std::mt19937 random(7);
    const auto damage = [&] {
        std::string garbage(4096, '\0');
        for (char& byte : garbage)
            byte = static_cast<char>(random());
        std::ofstream(file, std::ios::binary) << garbage;
        std::ofstream(file.string() + "-wal", std::ios::binary) << "log " << garbage.substr(0, 64);
        return garbage;
    };
    std::vector<SqliteUserDefaults::Damage> reports;
    const auto report = [&](const SqliteUserDefaults::Damage& found) { reports.push_back(found); };
    const std::string garbage = damage();

    EXPECT_FALSE(SqliteUserDefaults::open(file, {.readOnly = true, .onDamage = report})->objectExists("key"));
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0].file, file);
    EXPECT_EQ(reports[0].movedTo, fs::path());
    EXPECT_EQ(readFile(file), garbage);

    auto defaults = SqliteUserDefaults::open(file, {.onDamage = report});
    ASSERT_EQ(reports.size(), 2U);
    const fs::path moved = reports[1].movedTo;
    EXPECT_EQ(moved.parent_path(), folder.path());
    // defaults.sqlite3.damaged-20261207T064500Z
    const std::string name = moved.filename().string();
    const std::string stamp = name.substr(std::min(name.size(), std::string("defaults.sqlite3.damaged-").size()));
    EXPECT_TRUE(name.starts_with("defaults.sqlite3.damaged-") && stamp.size() == 16 && stamp[8] == 'T' &&
                stamp[15] == 'Z' && std::ranges::count_if(stamp, [](char c) { return c >= '0' && c <= '9'; }) == 14)
        << name;
    EXPECT_EQ(readFile(moved), garbage);
    EXPECT_EQ(readFile(moved.string() + "-wal"), "log " + garbage.substr(0, 64));
    EXPECT_TRUE(defaults->set("key", std::int64_t{1}));
    defaults.reset();
    EXPECT_EQ(SqliteUserDefaults::open(file)->intValue("key"), 1);

    // Damaged again, most likely within the same second: the new copy goes beside the first one.
    const std::string again = damage();
    EXPECT_TRUE(SqliteUserDefaults::open(file, {.onDamage = report})->set("key", std::int64_t{2}));
    ASSERT_EQ(reports.size(), 3U);
    EXPECT_NE(reports[2].movedTo, moved);
    EXPECT_EQ(readFile(reports[2].movedTo), again);
    EXPECT_EQ(readFile(moved), garbage);
}

TEST_F(SqliteUserDefaultsTest, LockedFileFailsWritesAfterTheTimeoutAndKeepsValues) {
    auto defaults = SqliteUserDefaults::open(file, {.busyTimeout = 100ms});
    ASSERT_TRUE(defaults->set("key", std::int64_t{1}));
    {
        const auto other = rawConnection(file, "BEGIN EXCLUSIVE");
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(defaults->set("key", std::int64_t{2}));
        EXPECT_FALSE(defaults->transaction([](UserDefaults&) { return true; }));
        EXPECT_GE(std::chrono::steady_clock::now() - started, 180ms);
        EXPECT_EQ(defaults->intValue("key"), 1);
    }
    EXPECT_TRUE(defaults->set("key", std::int64_t{3}));
}

// A store that cannot write keeps what it had, and creates nothing on the way: opened read-only,
// or with a plain file where its folder should be (which stops even the superuser). Rows this
// version cannot read are absent.
TEST_F(SqliteUserDefaultsTest, WhatCannotBeWrittenOrReadIsLeftAlone) {
    SqliteUserDefaults::open(file)->set("key", std::string("kept"));
    auto readOnly = SqliteUserDefaults::open(file, {.readOnly = true});
    EXPECT_FALSE(readOnly->set("key", std::string("lost")));
    readOnly->remove("key");
    readOnly->removeSuite("");
    EXPECT_EQ(readOnly->stringValue("key"), "kept");

    const fs::path absent = folder.path() / "absent" / "defaults.sqlite3";
    EXPECT_FALSE(SqliteUserDefaults::open(absent, {.readOnly = true})->set("key", true));
    EXPECT_FALSE(fs::exists(absent.parent_path()));
    std::ofstream(folder.path() / "config") << "not a folder";
    EXPECT_FALSE(
        SqliteUserDefaults::open(folder.path() / "config" / "tessaril" / "defaults.sqlite3")->set("key", true));
    EXPECT_EQ(readFile(folder.path() / "config"), "not a folder");

    auto defaults = SqliteUserDefaults::open(file);
    rawConnection(file,
                  "INSERT INTO defaults VALUES ('', 'future', 99, 1), ('', 'farDate', 5, 1e300),"
                  " ('', 'flagAsText', 0, 'yes')");
    for (const char* key : {"future", "farDate", "flagAsText"})
        EXPECT_FALSE(defaults->objectExists(key)) << key;
}

TEST_F(SqliteUserDefaultsTest, TransactionsFromSeparateConnectionsNeverLoseUpdates) {
    SqliteUserDefaults::open(file)->set("count", std::int64_t{0});
    constexpr int kIncrements = 40;
    auto increment = [&] {
        auto store = SqliteUserDefaults::open(file, {.busyTimeout = 10s});
        for (int i = 0; i < kIncrements; ++i) {
            store->transaction([](UserDefaults& defaults) {
                auto count = defaults.intValue("count").value_or(0);
                std::this_thread::yield();
                return defaults.set("count", count + 1);
            });
        }
    };
    {
        std::jthread first(increment);
        std::jthread second(increment);
    }
    EXPECT_EQ(SqliteUserDefaults::open(file)->intValue("count"), 2 * kIncrements);
}

}  // namespace
}  // namespace tessaril
