// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/defaults/SqliteUserDefaults.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <random>
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

// A damaged file is moved aside with its write-ahead log before anything is written, and never onto
// an earlier copy. (The tool's process tests damage the file in several ways and check the copy's
// name and bytes, and what a read-only run and a writing one say and keep.)
TEST_F(SqliteUserDefaultsTest, DamagedFileIsMovedAsideNeverWrittenOver) {
    std::mt19937 random(7);
    std::vector<fs::path> moved;
    const auto report = [&](const SqliteUserDefaults::Damage& found) { moved.push_back(found.movedTo); };
    for (int round = 0; round < 2; ++round) {
        std::string garbage(4096, '\0');
        for (char& byte : garbage)
            byte = static_cast<char>(random());
        std::ofstream(file, std::ios::binary) << garbage;
        std::ofstream(file.string() + "-wal", std::ios::binary) << "log " << garbage.substr(0, 64);
        EXPECT_TRUE(SqliteUserDefaults::open(file, {.onDamage = report})->set("key", std::int64_t{round}));
        ASSERT_EQ(moved.size(), round + 1U);
        EXPECT_EQ(readFile(moved.back().string() + "-wal"), "log " + garbage.substr(0, 64));
        EXPECT_EQ(SqliteUserDefaults::open(file)->intValue("key"), round);
    }
    EXPECT_NE(moved[0], moved[1]);  // the second within the same second
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

}  // namespace
}  // namespace tessaril
