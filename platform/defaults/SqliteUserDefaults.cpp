// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/defaults/SqliteUserDefaults.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <limits>
#include <mutex>
#include <system_error>
#include <type_traits>
#include <utility>

namespace tessaril {

namespace fs = std::filesystem;

namespace {

// The type of each stored value, written next to it so that a flag reads back as a flag and not
// as the number 1. These numbers are part of the file format: never renumber them.
enum class StoredType : int { boolean = 0, integer = 1, real = 2, text = 3, bytes = 4, date = 5 };

constexpr const char* kCreateTable =
    "CREATE TABLE IF NOT EXISTS defaults ("
    " suite TEXT NOT NULL,"
    " key TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " value,"
    " PRIMARY KEY (suite, key)"
    ") WITHOUT ROWID";

enum Statement : std::size_t { selectValue, upsertValue, deleteValue, deleteSuite, statementCount };

constexpr std::array<const char*, statementCount> kStatementSql = {
    "SELECT type, value FROM defaults WHERE suite = ?1 AND key = ?2",
    "INSERT OR REPLACE INTO defaults (suite, key, type, value) VALUES (?1, ?2, ?3, ?4)",
    "DELETE FROM defaults WHERE suite = ?1 AND key = ?2",
    "DELETE FROM defaults WHERE suite = ?1",
};

// system_clock counts nanoseconds in 64 bits: about 292 years either side of 1970. A stored date
// beyond that (written by hand, or by a future version) cannot be represented and reads as empty.
constexpr double kLargestDateSeconds = 9.2e9;

// Whole seconds and the fraction are converted separately: the nanosecond count itself is too large
// for a double to hold exactly, and converting it whole would cost a few hundred nanoseconds.
double secondsSince1970(Date date) {
    const auto whole = std::chrono::floor<std::chrono::seconds>(date.time_since_epoch());
    const auto fraction = std::chrono::duration_cast<std::chrono::nanoseconds>(date.time_since_epoch() - whole);
    return static_cast<double>(whole.count()) + static_cast<double>(fraction.count()) / 1e9;
}

Date dateFromSeconds(double seconds) {
    const double whole = std::floor(seconds);
    const auto fraction = std::chrono::nanoseconds(std::llround((seconds - whole) * 1e9));
    return Date(
        std::chrono::duration_cast<Date::duration>(std::chrono::seconds(static_cast<std::int64_t>(whole)) + fraction));
}

// Statements are kept prepared; each use rebinds every parameter and resets afterwards, so that no
// statement keeps a read snapshot open and the next read sees other processes' commits.
class ResetOnExit {
public:
    explicit ResetOnExit(sqlite3_stmt* statement) : statement_(statement) {}
    ~ResetOnExit() { sqlite3_reset(statement_); }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

private:
    sqlite3_stmt* statement_;
};

// An empty view may have no data pointer, and SQLite binds a null pointer as NULL, not as "".
int bindText(sqlite3_stmt* statement, int index, std::string_view text) {
    const char* data = text.empty() ? "" : text.data();
    return sqlite3_bind_text64(statement, index, data, text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

int bindValue(sqlite3_stmt* statement, int typeIndex, int valueIndex, const DefaultsValue& value) {
    auto bindType = [&](StoredType type) { return sqlite3_bind_int(statement, typeIndex, static_cast<int>(type)); };
    return std::visit(
        [&](const auto& typed) -> int {
            using T = std::decay_t<decltype(typed)>;
            if constexpr (std::is_same_v<T, bool>) {
                bindType(StoredType::boolean);
                return sqlite3_bind_int(statement, valueIndex, typed ? 1 : 0);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                bindType(StoredType::integer);
                return sqlite3_bind_int64(statement, valueIndex, typed);
            } else if constexpr (std::is_same_v<T, double>) {
                bindType(StoredType::real);
                return sqlite3_bind_double(statement, valueIndex, typed);
            } else if constexpr (std::is_same_v<T, std::string>) {
                bindType(StoredType::text);
                return bindText(statement, valueIndex, typed);
            } else if constexpr (std::is_same_v<T, Bytes>) {
                bindType(StoredType::bytes);
                // An empty blob bound from a null pointer would become NULL.
                if (typed.empty()) return sqlite3_bind_zeroblob(statement, valueIndex, 0);
                return sqlite3_bind_blob64(statement, valueIndex, typed.data(), typed.size(), SQLITE_STATIC);
            } else {
                static_assert(std::is_same_v<T, Date>);
                bindType(StoredType::date);
                return sqlite3_bind_double(statement, valueIndex, secondsSince1970(typed));
            }
        },
        value);
}

// Builds the value in place: GCC 12 misreads a variant temporary moved into an optional as
// possibly uninitialised at higher optimisation levels.
template <typename T, typename... Arguments>
std::optional<DefaultsValue> stored(Arguments&&... arguments) {
    return std::optional<DefaultsValue>(std::in_place, std::in_place_type<T>, std::forward<Arguments>(arguments)...);
}

std::optional<DefaultsValue> readValue(sqlite3_stmt* statement, int typeIndex, int valueIndex) {
    const int storage = sqlite3_column_type(statement, valueIndex);
    const bool numeric = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
    switch (static_cast<StoredType>(sqlite3_column_int(statement, typeIndex))) {
        case StoredType::boolean:
            if (storage != SQLITE_INTEGER) return std::nullopt;
            return stored<bool>(sqlite3_column_int64(statement, valueIndex) != 0);
        case StoredType::integer:
            if (storage != SQLITE_INTEGER) return std::nullopt;
            return stored<std::int64_t>(sqlite3_column_int64(statement, valueIndex));
        case StoredType::real:
            // SQLite keeps a NaN as NULL.
            if (storage == SQLITE_NULL) return stored<double>(std::numeric_limits<double>::quiet_NaN());
            if (!numeric) return std::nullopt;
            return stored<double>(sqlite3_column_double(statement, valueIndex));
        case StoredType::text: {
            if (storage != SQLITE_TEXT) return std::nullopt;
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, valueIndex));
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, valueIndex));
            if (text == nullptr) return stored<std::string>();
            return stored<std::string>(text, size);
        }
        case StoredType::bytes: {
            if (storage != SQLITE_BLOB) return std::nullopt;
            const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, valueIndex));
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement, valueIndex));
            if (data == nullptr) return stored<Bytes>();
            return stored<Bytes>(data, data + size);
        }
        case StoredType::date: {
            if (!numeric) return std::nullopt;
            const double seconds = sqlite3_column_double(statement, valueIndex);
            if (!std::isfinite(seconds) || std::fabs(seconds) > kLargestDateSeconds) return std::nullopt;
            return stored<Date>(dateFromSeconds(seconds));
        }
    }
    // A type this version does not know, written by a newer one.
    return std::nullopt;
}

// What SQLite says about a file that is not a database or whose pages do not hold together.
bool isDamage(int result) {
    const int primary = result & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// SQLite's own consistency check, stopping at the first problem: SQLITE_OK when it passes,
// SQLITE_CORRUPT when it finds damage, or the error that kept it from looking (a file locked or
// unreadable right now, which is not damage).
int quickCheck(sqlite3* database) {
    sqlite3_stmt* statement = nullptr;
    int result = sqlite3_prepare_v2(database, "PRAGMA quick_check(1)", -1, &statement, nullptr);
    if (result == SQLITE_OK) {
        result = sqlite3_step(statement);
        if (result == SQLITE_ROW) {
            const auto* answer = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            result = answer != nullptr && std::string_view(answer) == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
        }
    }
    sqlite3_finalize(statement);
    return result;
}

// The files SQLite keeps beside a database, which belong to it wherever it goes.
constexpr std::array<const char*, 3> kCompanions = {"-wal", "-shm", "-journal"};

fs::path withSuffix(const fs::path& file, std::string_view suffix) {
    return fs::path(file.string() + std::string(suffix));
}

bool existsWithCompanions(const fs::path& file) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(file, error))) return true;
    return std::any_of(kCompanions.begin(), kCompanions.end(), [&](const char* companion) {
        return fs::exists(fs::symlink_status(withSuffix(file, companion), error));
    });
}

// Now in UTC, as 20261207T064500Z.
std::string utcStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::array<char, 32> text{};
    return {text.data(), std::strftime(text.data(), text.size(), "%Y%m%dT%H%M%SZ", &utc)};
}

// Which file a path names right now (device and inode); all zero when there is none.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identify(const fs::path& file) {
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) return {};
    return {status.st_dev, status.st_ino};
}

}  // namespace

// One SQLite connection, shared by a store and its suites. Opening is lazy and retried on every
// use, so a store that starts out locked or unreachable recovers once the obstacle is gone.
class SqliteUserDefaults::Connection {
public:
    Connection(fs::path file, Options options) : file_(std::move(file)), options_(std::move(options)) {}

    ~Connection() { close(); }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    [[nodiscard]] const fs::path& file() const { return file_; }

    // The prepared statement, or null when the file cannot be used right now.
    sqlite3_stmt* statement(Statement which) {
        if (!ensureReady()) return nullptr;
        sqlite3_stmt*& statement = statements_.at(which);
        if (statement == nullptr) {
            if (noteResult(sqlite3_prepare_v3(database_, kStatementSql.at(which), -1, SQLITE_PREPARE_PERSISTENT,
                                              &statement, nullptr)) != SQLITE_OK) {
                sqlite3_finalize(statement);
                statement = nullptr;
            }
        }
        return statement;
    }

    bool execute(const char* sql) {
        return ensureReady() && noteResult(sqlite3_exec(database_, sql, nullptr, nullptr, nullptr)) == SQLITE_OK;
    }

    [[nodiscard]] bool inTransaction() const { return database_ != nullptr && sqlite3_get_autocommit(database_) == 0; }

    // Passes an SQLite result through, remembering when it says the file is damaged. From then on
    // nothing reaches the file; settle() deals with it.
    int noteResult(int result) {
        if (isDamage(result) && damage_ == DamageState::none) damage_ = DamageState::found;
        return result;
    }

    // Moves a file found damaged aside and tells the owner, unless a transaction is still open on it
    // (its outermost call settles when it ends). Called after every operation.
    void settle() {
        if (damage_ == DamageState::found && depth == 0) resolveDamage();
    }

    // Settles once an operation is over. Declared before the statement's reset, it runs after it:
    // dealing with damage finalizes every statement.
    class SettleOnExit {
    public:
        explicit SettleOnExit(Connection& connection) : connection_(connection) {}
        ~SettleOnExit() { connection_.settle(); }
        SettleOnExit(const SettleOnExit&) = delete;
        SettleOnExit& operator=(const SettleOnExit&) = delete;

    private:
        Connection& connection_;
    };

    // Held for each operation: the cached statements must not be shared by two threads at once.
    // Recursive, because a transaction's body writes through the same connection.
    std::recursive_mutex mutex;
    // How many transactions are open on this connection, the outermost included.
    int depth = 0;

private:
    enum class DamageState {
        none,
        // Seen, not yet dealt with: every operation fails meanwhile.
        found,
        // Left in place (a read-only store, or it could not be moved): the store reads as empty and
        // refuses writes from now on, without looking at the file again.
        unusable,
    };

    bool ensureReady() {
        if (damage_ != DamageState::none && !resolveDamage()) return false;
        if (ready_) return true;
        if (database_ == nullptr && !openDatabase()) return false;
        // SQLite's own check before anything else: not even the switch to WAL may write to a
        // damaged file. Other failures (locked, unreadable) are not damage and are handled below.
        noteResult(quickCheck(database_));
        if (damage_ != DamageState::none && (!resolveDamage() || !openDatabase())) return false;
        if (options_.readOnly) {
            ready_ = noteResult(sqlite3_exec(database_, "SELECT 1 FROM sqlite_schema LIMIT 1", nullptr, nullptr,
                                             nullptr)) == SQLITE_OK ||
                     reopenInReadOnlyFolder();
            return ready_;
        }
        // WAL lets the app read while the command-line tool writes, and the other way round. When the
        // mode cannot be switched the store still works, with the slower rollback journal.
        sqlite3_exec(database_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        ready_ = noteResult(sqlite3_exec(database_, kCreateTable, nullptr, nullptr, nullptr)) == SQLITE_OK ||
                 reopenInReadOnlyFolder();
        return ready_;
    }

    // Reading a WAL database needs its shared-memory file next to it, which a read-only folder
    // cannot get, so every read would fail and the user's settings would seem gone. Nobody can
    // commit to the file there either (that needs the same folder), so it is read as it stands.
    bool reopenInReadOnlyFolder() {
        const int failure = sqlite3_errcode(database_);
        if (failure != SQLITE_READONLY && failure != SQLITE_CANTOPEN) return false;
        if (::access(file_.parent_path().c_str(), W_OK) == 0) return false;
        std::string uri = "file:";
        for (const char c : file_.string()) {
            if (c == '%' || c == '?' || c == '#') {
                uri += c == '%' ? "%25" : (c == '?' ? "%3F" : "%23");
            } else {
                uri += c;
            }
        }
        uri += "?immutable=1";
        sqlite3* database = nullptr;
        if (sqlite3_open_v2(uri.c_str(), &database, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK ||
            noteResult(quickCheck(database)) != SQLITE_OK ||
            sqlite3_exec(database, "SELECT 1 FROM defaults LIMIT 1", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_close_v2(database);
            return false;
        }
        sqlite3_close_v2(database_);
        database_ = database;
        return true;
    }

    bool openDatabase() {
        int flags = SQLITE_OPEN_READONLY;
        if (!options_.readOnly) {
            flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
            std::error_code ignored;
            fs::create_directories(file_.parent_path(), ignored);
        }
        sqlite3* database = nullptr;
        if (sqlite3_open_v2(file_.c_str(), &database, flags, nullptr) != SQLITE_OK) {
            sqlite3_close_v2(database);
            return false;
        }
        opened_ = identify(file_);
        auto milliseconds = options_.busyTimeout.count();
        sqlite3_busy_timeout(database, static_cast<int>(std::clamp<decltype(milliseconds)>(
                                           milliseconds, 0, std::numeric_limits<int>::max())));
        database_ = database;
        return true;
    }

    void close() {
        for (sqlite3_stmt*& statement : statements_) {
            sqlite3_finalize(statement);
            statement = nullptr;
        }
        if (database_ != nullptr) sqlite3_close_v2(database_);
        database_ = nullptr;
        ready_ = false;
    }

    // True when the store may carry on with a new file.
    bool resolveDamage() {
        if (damage_ == DamageState::unusable || depth > 0) return false;
        // Closing the last connection would copy the write-ahead log into the damaged file.
        if (database_ != nullptr) sqlite3_db_config(database_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        close();
        // Another process may have moved it first and started a new file in its place: that one is
        // not damaged, and not ours to move.
        if (!options_.readOnly && identify(file_) != opened_) {
            damage_ = DamageState::none;
            return true;
        }
        const Damage report{file_, options_.readOnly ? fs::path() : moveAside()};
        damage_ = report.movedTo.empty() ? DamageState::unusable : DamageState::none;
        if (options_.onDamage) options_.onDamage(report);
        return damage_ == DamageState::none;
    }

    // Moves the damaged file and its companions out of the way. Returns where the file went, or
    // an empty path when it could not be moved (then it stays where it is, and is not written to).
    [[nodiscard]] fs::path moveAside() const {
        const std::string stamp = ".damaged-" + utcStamp();
        fs::path target = withSuffix(file_, stamp);
        // Never over one moved aside earlier in the same second.
        for (int n = 2; existsWithCompanions(target); ++n)
            target = withSuffix(file_, stamp + "-" + std::to_string(n));
        // The companions first: a write-ahead log left beside a new file would be taken for its own.
        for (const char* companion : kCompanions) {
            std::error_code error;
            const fs::path from = withSuffix(file_, companion);
            if (!fs::exists(fs::symlink_status(from, error))) continue;
            fs::rename(from, withSuffix(target, companion), error);
            if (error) return {};
        }
        std::error_code error;
        fs::rename(file_, target, error);
        if (error) return {};
        return target;
    }

    fs::path file_;
    Options options_;
    sqlite3* database_ = nullptr;
    bool ready_ = false;
    DamageState damage_ = DamageState::none;
    // The file this connection opened, to tell it from one another process put in its place.
    FileIdentity opened_;
    std::array<sqlite3_stmt*, statementCount> statements_{};
};

fs::path defaultDefaultsFile(const Paths& paths) {
    return paths.configDirectory() / "tessaril" / "defaults.sqlite3";
}

std::unique_ptr<SqliteUserDefaults> SqliteUserDefaults::open(const fs::path& file) {
    return open(file, Options{});
}

std::unique_ptr<SqliteUserDefaults> SqliteUserDefaults::open(const fs::path& file, const Options& options) {
    auto connection = std::make_shared<Connection>(file, options);
    {
        // Opening early creates the file and its folder now, and finds most problems up front.
        std::lock_guard lock(connection->mutex);
        const Connection::SettleOnExit settle(*connection);
        connection->statement(selectValue);
    }
    return std::unique_ptr<SqliteUserDefaults>(new SqliteUserDefaults(std::move(connection), std::string()));
}

SqliteUserDefaults::SqliteUserDefaults(std::shared_ptr<Connection> connection, std::string suiteName)
    : connection_(std::move(connection)), suiteName_(std::move(suiteName)) {}

SqliteUserDefaults::~SqliteUserDefaults() = default;

const fs::path& SqliteUserDefaults::file() const {
    return connection_->file();
}

std::optional<DefaultsValue> SqliteUserDefaults::value(std::string_view key) const {
    std::lock_guard lock(connection_->mutex);
    const Connection::SettleOnExit settle(*connection_);
    sqlite3_stmt* statement = connection_->statement(selectValue);
    if (statement == nullptr) return std::nullopt;
    ResetOnExit reset(statement);
    if (bindText(statement, 1, suiteName_) != SQLITE_OK || bindText(statement, 2, key) != SQLITE_OK) {
        return std::nullopt;
    }
    if (connection_->noteResult(sqlite3_step(statement)) != SQLITE_ROW) return std::nullopt;
    return readValue(statement, 0, 1);
}

bool SqliteUserDefaults::set(std::string_view key, DefaultsValue value) {
    std::lock_guard lock(connection_->mutex);
    const Connection::SettleOnExit settle(*connection_);
    sqlite3_stmt* statement = connection_->statement(upsertValue);
    if (statement == nullptr) return false;
    ResetOnExit reset(statement);
    if (bindText(statement, 1, suiteName_) != SQLITE_OK || bindText(statement, 2, key) != SQLITE_OK ||
        bindValue(statement, 3, 4, value) != SQLITE_OK) {
        return false;
    }
    return connection_->noteResult(sqlite3_step(statement)) == SQLITE_DONE;
}

void SqliteUserDefaults::remove(std::string_view key) {
    std::lock_guard lock(connection_->mutex);
    const Connection::SettleOnExit settle(*connection_);
    sqlite3_stmt* statement = connection_->statement(deleteValue);
    if (statement == nullptr) return;
    ResetOnExit reset(statement);
    if (bindText(statement, 1, suiteName_) != SQLITE_OK || bindText(statement, 2, key) != SQLITE_OK) return;
    connection_->noteResult(sqlite3_step(statement));
}

std::unique_ptr<UserDefaults> SqliteUserDefaults::suite(std::string_view name) {
    return std::unique_ptr<UserDefaults>(new SqliteUserDefaults(connection_, std::string(name)));
}

void SqliteUserDefaults::removeSuite(std::string_view name) {
    std::lock_guard lock(connection_->mutex);
    const Connection::SettleOnExit settle(*connection_);
    sqlite3_stmt* statement = connection_->statement(deleteSuite);
    if (statement == nullptr) return;
    ResetOnExit reset(statement);
    if (bindText(statement, 1, name) != SQLITE_OK) return;
    connection_->noteResult(sqlite3_step(statement));
}

bool SqliteUserDefaults::transaction(const std::function<bool(UserDefaults&)>& body) {
    std::lock_guard lock(connection_->mutex);
    // Damage found inside is dealt with once the outermost transaction is over.
    const Connection::SettleOnExit settle(*connection_);
    // IMMEDIATE takes the write lock before the body's first read, so no other process can commit
    // between that read and our write. Inside a transaction, a savepoint gives the nested body its
    // own all-or-nothing.
    const bool outermost = connection_->depth == 0;
    if (!connection_->execute(outermost ? "BEGIN IMMEDIATE" : "SAVEPOINT nested")) return false;
    struct Depth {
        explicit Depth(int& depth) : depth_(depth) { ++depth_; }
        ~Depth() { --depth_; }
        Depth(const Depth&) = delete;
        Depth& operator=(const Depth&) = delete;
        int& depth_;
    } depth(connection_->depth);
    auto rollBack = [&] {
        if (outermost) {
            if (connection_->inTransaction()) connection_->execute("ROLLBACK");
        } else {
            connection_->execute("ROLLBACK TO nested");
            connection_->execute("RELEASE nested");
        }
    };
    bool keep = false;
    try {
        keep = body(*this);
    } catch (...) {
        rollBack();
        throw;
    }
    if (keep && connection_->execute(outermost ? "COMMIT" : "RELEASE nested")) return true;
    rollBack();
    return false;
}

}  // namespace tessaril
