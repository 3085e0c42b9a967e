// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::readFile;

// A second, raw connection, as another process would hold it.
class RawConnection {
public:
    explicit RawConnection(const fs::path& file) { sqlite3_open(file.c_str(), &database_); }
    ~RawConnection() { sqlite3_close(database_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    int execute(const std::string& sql) { return sqlite3_exec(database_, sql.c_str(), nullptr, nullptr, nullptr); }
    std::string text(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        std::string result;
        if (sqlite3_prepare_v2(database_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
        return result;
    }

private:
    sqlite3* database_ = nullptr;
};

// Whether this process can write into `folder` despite its permission bits (as root can).
bool canWriteInto(const fs::path& folder) {
    const fs::path probe = folder / "probe";
    bool written = static_cast<bool>(std::ofstream(probe) << "x");
    std::error_code ignored;
    fs::remove(probe, ignored);
    return written;
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
    EXPECT_TRUE(fs::exists(nested));
    EXPECT_EQ(app->file(), nested);

    ASSERT_TRUE(app->set("enabled", true));
    EXPECT_EQ(cli->boolValue("enabled"), true);
    ASSERT_TRUE(cli->set("enabled", false));
    EXPECT_EQ(app->boolValue("enabled"), false);
    cli->suite("trial")->set("key", std::string("x"));
    EXPECT_EQ(app->suite("trial")->stringValue("key"), "x");
    app->removeSuite("trial");
    EXPECT_FALSE(cli->suite("trial")->objectExists("key"));
    cli->remove("enabled");
    EXPECT_FALSE(app->objectExists("enabled"));

    app->set("kept", std::int64_t{42});
    app.reset();
    cli.reset();
    EXPECT_EQ(SqliteUserDefaults::open(nested)->intValue("kept"), 42);
    RawConnection raw(nested);
    EXPECT_EQ(raw.text("PRAGMA journal_mode"), "wal");
}

// A damaged file is never written over: a read-only store leaves it in place and reads as empty; a
// writable one moves it aside with its write-ahead log before anything is written, and carries on
// with a new file. Either says so once. (tests/robustness covers the ways a file gets damaged.)
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

    auto readOnly = SqliteUserDefaults::open(file, {.readOnly = true, .onDamage = report});
    EXPECT_FALSE(readOnly->objectExists("key"));
    EXPECT_FALSE(readOnly->objectExists("other"));
    readOnly.reset();
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
    EXPECT_EQ(defaults->intValue("key"), 1);
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

    RawConnection other(file);
    ASSERT_EQ(other.execute("BEGIN EXCLUSIVE"), SQLITE_OK);
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(defaults->set("key", std::int64_t{2}));
    EXPECT_FALSE(defaults->transaction([](UserDefaults&) { return true; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 180ms);
    EXPECT_EQ(defaults->intValue("key"), 1);
    other.execute("ROLLBACK");

    EXPECT_TRUE(defaults->set("key", std::int64_t{3}));
    EXPECT_EQ(defaults->intValue("key"), 3);
}

TEST_F(SqliteUserDefaultsTest, ReadOnlyStoreReadsButKeepsWhatItHad) {
    SqliteUserDefaults::open(file)->set("key", std::string("kept"));

    auto readOnly = SqliteUserDefaults::open(file, {.readOnly = true});
    EXPECT_EQ(readOnly->stringValue("key"), "kept");
    EXPECT_FALSE(readOnly->set("key", std::string("lost")));
    readOnly->remove("key");
    readOnly->removeSuite("");
    EXPECT_EQ(readOnly->stringValue("key"), "kept");

    const fs::path absent = folder.path() / "absent" / "defaults.sqlite3";
    auto missing = SqliteUserDefaults::open(absent, {.readOnly = true});
    EXPECT_FALSE(missing->objectExists("key"));
    EXPECT_FALSE(missing->set("key", true));
    EXPECT_FALSE(fs::exists(absent.parent_path()));
}

TEST_F(SqliteUserDefaultsTest, FolderThatCannotBeMadeFailsQuietly) {
    // A plain file where a folder should be stops even root from creating the folder.
    std::ofstream(folder.path() / "config") << "not a folder";
    auto defaults = SqliteUserDefaults::open(folder.path() / "config" / "tessaril" / "defaults.sqlite3");
    EXPECT_FALSE(defaults->set("key", true));
    EXPECT_FALSE(defaults->objectExists("key"));
    EXPECT_EQ(readFile(folder.path() / "config"), "not a folder");
}

TEST_F(SqliteUserDefaultsTest, ReadOnlyFolderRefusesWrites) {
    const fs::path locked = folder.path() / "locked";
    fs::create_directory(locked);
    SqliteUserDefaults::open(locked / "defaults.sqlite3")->set("key", std::int64_t{1});
    fs::permissions(locked / "defaults.sqlite3", fs::perms::owner_read);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    if (canWriteInto(locked)) GTEST_SKIP() << "permission bits do not stop this user";

    auto existing = SqliteUserDefaults::open(locked / "defaults.sqlite3");
    EXPECT_FALSE(existing->set("key", std::int64_t{2}));
    EXPECT_NE(existing->intValue("key"), 2);
    auto fresh = SqliteUserDefaults::open(locked / "new" / "defaults.sqlite3");
    EXPECT_FALSE(fresh->set("key", true));
    EXPECT_FALSE(fresh->objectExists("key"));
}

TEST_F(SqliteUserDefaultsTest, RowsThisVersionCannotReadAreEmpty) {
    auto defaults = SqliteUserDefaults::open(file);
    RawConnection raw(file);
    ASSERT_EQ(raw.execute("INSERT INTO defaults VALUES ('', 'future', 99, 1),"
                          " ('', 'farDate', 5, 1e300), ('', 'flagAsText', 0, 'yes')"),
              SQLITE_OK);
    EXPECT_FALSE(defaults->objectExists("future"));
    EXPECT_FALSE(defaults->objectExists("farDate"));
    EXPECT_FALSE(defaults->objectExists("flagAsText"));
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
    std::thread first(increment);
    std::thread second(increment);
    first.join();
    second.join();
    EXPECT_EQ(SqliteUserDefaults::open(file)->intValue("count"), 2 * kIncrements);
}

}  // namespace
}  // namespace tessaril
