// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Paths.h"
#include "core/foundation/UserDefaults.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tessaril {

// The preferences file the app and the command-line tool share: <config>/tessaril/defaults.sqlite3.
[[nodiscard]] std::filesystem::path defaultDefaultsFile(const Paths& paths);

// Preferences in an SQLite file. The app and the command-line tool use the same file at the same
// time, so nothing is cached: every read asks the file and sees what another process committed.
// A file that cannot be used right now (locked for too long, read-only, in a folder that cannot be
// made) reads as empty and refuses writes; it is never replaced or deleted. A damaged file (not a
// database, or one that fails SQLite's own check when it is opened, or reports damage when read)
// is never written over either: a writable store moves it aside, with its companion files, and
// carries on with a new, empty file, so that the user's old settings stay on disk for rescue.
class SqliteUserDefaults final : public UserDefaults {
public:
    struct Damage {
        std::filesystem::path file;
        // Where the damaged file now is: <file>.damaged-<UTC time>, such as
        // defaults.sqlite3.damaged-20261207T064500Z, its -wal, -shm and -journal companions beside it
        // under the same name with their suffix. Empty when it is still in place.
        std::filesystem::path movedTo;
    };

    struct Options {
        // How long a write waits for another process to finish its own before giving up.
        std::chrono::milliseconds busyTimeout{2000};
        // Opens the file for reading only; every write then fails.
        bool readOnly = false;
        // Told once when the file turns out to be damaged, after it was moved aside (or found
        // impossible to move, or left in place by a read-only store, which then reads as empty).
        // Called with the store's lock held, so it must not use the store.
        std::function<void(const Damage&)> onDamage = nullptr;
    };

    // Opens (and, unless read-only, creates along with its folder) the store at `file`. Never
    // fails: a store that cannot be opened now retries on each use, and behaves as an unusable one
    // until then.
    [[nodiscard]] static std::unique_ptr<SqliteUserDefaults> open(const std::filesystem::path& file);
    [[nodiscard]] static std::unique_ptr<SqliteUserDefaults> open(const std::filesystem::path& file,
                                                                  const Options& options);

    ~SqliteUserDefaults() override;
    SqliteUserDefaults(const SqliteUserDefaults&) = delete;
    SqliteUserDefaults& operator=(const SqliteUserDefaults&) = delete;

    [[nodiscard]] std::optional<DefaultsValue> value(std::string_view key) const override;
    bool set(std::string_view key, DefaultsValue value) override;
    void remove(std::string_view key) override;
    // Suites share this store's connection (and therefore its transactions).
    [[nodiscard]] std::unique_ptr<UserDefaults> suite(std::string_view name) override;
    void removeSuite(std::string_view name) override;

    // BEGIN IMMEDIATE: the write lock is taken before the body's first read, waiting for another
    // process at most the busy timeout; nested calls are savepoints.
    bool transaction(const std::function<bool(UserDefaults&)>& body) override;

    [[nodiscard]] const std::filesystem::path& file() const;

private:
    class Connection;
    SqliteUserDefaults(std::shared_ptr<Connection> connection, std::string suiteName);

    std::shared_ptr<Connection> connection_;
    std::string suiteName_;
};

}  // namespace tessaril
