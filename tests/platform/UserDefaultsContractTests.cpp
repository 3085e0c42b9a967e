// SPDX-License-Identifier: GPL-3.0-or-later
// The behaviour every preferences store shares, run against each of them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/OverlayUserDefaults.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

namespace tessaril {
namespace {

using namespace std::chrono_literals;

struct InMemoryBackend {
    static constexpr const char* name = "InMemory";
    std::unique_ptr<UserDefaults> make() { return std::make_unique<InMemoryUserDefaults>(); }
};

struct OverlayBackend {
    static constexpr const char* name = "Overlay";
    InMemoryUserDefaults base;
    std::unique_ptr<UserDefaults> make() { return std::make_unique<OverlayUserDefaults>(base); }
};

struct SqliteBackend {
    static constexpr const char* name = "Sqlite";
    testing::TemporaryDirectory folder;
    std::unique_ptr<UserDefaults> make() { return SqliteUserDefaults::open(folder.path() / "defaults.sqlite3"); }
};

struct BackendName {
    template <typename Backend>
    static std::string GetName(int) {
        return Backend::name;
    }
};

template <typename Backend>
class UserDefaultsContract : public ::testing::Test {
protected:
    Backend backend;
    std::unique_ptr<UserDefaults> defaults = backend.make();
};

using Backends = ::testing::Types<InMemoryBackend, OverlayBackend, SqliteBackend>;
TYPED_TEST_SUITE(UserDefaultsContract, Backends, BackendName);

// How many of the typed reads answer for `key`: a stored value must answer exactly one of them.
int typedReadsAnswering(const UserDefaults& defaults, std::string_view key) {
    return defaults.boolValue(key).has_value() + defaults.intValue(key).has_value() +
           defaults.doubleValue(key).has_value() + defaults.stringValue(key).has_value() +
           defaults.dataValue(key).has_value() + defaults.dateValue(key).has_value();
}

TYPED_TEST(UserDefaultsContract, EveryValueReadsBackExactlyAsItsOwnType) {
    UserDefaults& defaults = *this->defaults;
    const std::pair<std::string, DefaultsValue> values[] = {
        {"flag", true},
        {"off", false},
        {"min", std::numeric_limits<std::int64_t>::min()},
        {"max", std::numeric_limits<std::int64_t>::max()},
        {"ratio", 1.0},
        {"infinite", -std::numeric_limits<double>::infinity()},
        {"text", std::string("a\0b\xff\xc3\xa9", 6)},
        {"emptyText", std::string()},
        {"binary", Bytes{0, 0xff, 0, 0x7f, 0}},
        {"emptyData", Bytes()},
        {"early", Date(std::chrono::seconds(-86'400 * 365)) + 500ms},
        {std::string("k\0x", 3), std::string("after nul")},
        {"", std::string("empty key")},
        {"replaced", std::int64_t{7}},
        {"replaced", std::string("by another type")},
    };
    for (const auto& [key, value] : values)
        ASSERT_TRUE(defaults.set(key, value)) << key;
    for (const auto& [key, value] : std::span(values).first(std::size(values) - 2)) {
        EXPECT_EQ(defaults.value(key), value) << key;
        EXPECT_EQ(typedReadsAnswering(defaults, key), 1) << key;
    }
    EXPECT_EQ(defaults.stringValue("replaced"), "by another type");
    EXPECT_EQ(typedReadsAnswering(defaults, "replaced"), 1);
    EXPECT_FALSE(defaults.objectExists("k"));
    // Seconds since 1970 in a double hold a present-day date to well under a microsecond.
    const Date recent = Date(std::chrono::seconds(1'733'443'200)) + 123'456us;
    defaults.set("recent", recent);
    EXPECT_LE(std::chrono::abs(defaults.dateValue("recent").value_or(Date()) - recent), 1us);
    defaults.set("nan", std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(std::isnan(defaults.doubleValue("nan").value_or(0)));
    defaults.set("negativeZero", -0.0);
    EXPECT_TRUE(std::signbit(defaults.doubleValue("negativeZero").value_or(0)));
    defaults.remove("flag");
    defaults.remove("flag");  // removing what is absent is harmless
    EXPECT_EQ(typedReadsAnswering(defaults, "flag"), 0);
}

TYPED_TEST(UserDefaultsContract, SuitesAreSeparateAndRemovable) {
    auto& defaults = this->defaults;
    defaults->set("key", std::int64_t{1});
    auto suite = defaults->suite("trial");
    suite->set("key", std::int64_t{2});
    defaults->suite("unrelated")->set("key", std::int64_t{3});
    EXPECT_EQ(defaults->suite("trial")->intValue("key"), 2);
    EXPECT_EQ(defaults->suite("")->intValue("key"), 1);  // the empty name is the standard suite
    defaults->removeSuite("trial");
    EXPECT_FALSE(suite->objectExists("key"));
    EXPECT_EQ(defaults->suite("unrelated")->intValue("key"), 3);
    // A suite keeps working after the object it came from is gone.
    defaults.reset();
    EXPECT_TRUE(suite->set("again", std::int64_t{4}));
    EXPECT_EQ(suite->intValue("again"), 4);
}

TYPED_TEST(UserDefaultsContract, TransactionKeepsOrUndoesEverything) {
    UserDefaults& defaults = *this->defaults;
    defaults.set("count", std::int64_t{1});
    EXPECT_TRUE(defaults.transaction([](UserDefaults& store) {
        store.set("count", *store.intValue("count") + 1);
        return store.suite("trial")->set("seen", true);
    }));
    EXPECT_FALSE(defaults.transaction([](UserDefaults& store) {
        store.remove("count");
        store.suite("trial")->set("seen", false);
        return false;
    }));
    EXPECT_THROW(defaults.transaction([](UserDefaults& store) -> bool {
        store.set("count", std::int64_t{100});
        throw std::runtime_error("body failed");
    }),
                 std::runtime_error);
    EXPECT_EQ(defaults.intValue("count"), 2);
    EXPECT_EQ(defaults.suite("trial")->boolValue("seen"), true);

    // An inner transaction that gives up undoes only its own changes.
    EXPECT_TRUE(defaults.transaction([&](UserDefaults& store) {
        store.set("outer", true);
        EXPECT_FALSE(defaults.transaction([](UserDefaults& inner) { return !inner.set("inner", true); }));
        return true;
    }));
    EXPECT_EQ(defaults.boolValue("outer"), true);
    EXPECT_FALSE(defaults.objectExists("inner"));
    EXPECT_TRUE(defaults.set("afterwards", true));  // nothing left open
}

// Threads that each read, change and write one value inside transactions never lose an update.
TYPED_TEST(UserDefaultsContract, ConcurrentTransactionsNeverLoseUpdates) {
    auto& defaults = this->defaults;
    constexpr int kIncrements = 100;
    auto increment = [&] {
        auto handle = defaults->suite("");
        for (int i = 0; i < kIncrements; ++i) {
            EXPECT_TRUE(handle->transaction([](UserDefaults& store) {
                const auto count = store.intValue("count").value_or(0);
                std::this_thread::yield();
                return store.set("count", count + 1);
            }));
        }
    };
    {
        std::jthread first(increment);
        std::jthread second(increment);
    }
    EXPECT_EQ(defaults->intValue("count"), 2 * kIncrements);
}

}  // namespace
}  // namespace tessaril
