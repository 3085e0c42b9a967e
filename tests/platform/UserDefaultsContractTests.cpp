// SPDX-License-Identifier: GPL-3.0-or-later
// The behaviour every preferences store shares, run against each of them.
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/OverlayUserDefaults.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>

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

TYPED_TEST(UserDefaultsContract, EveryTypeReadsBackAsItself) {
    UserDefaults& defaults = *this->defaults;
    const Date when = Date(std::chrono::seconds(1'700'000'000)) + 250ms;
    ASSERT_TRUE(defaults.set("flag", true));
    ASSERT_TRUE(defaults.set("off", false));
    ASSERT_TRUE(defaults.set("count", std::int64_t{1}));
    ASSERT_TRUE(defaults.set("ratio", 1.0));
    ASSERT_TRUE(defaults.set("name", std::string("1")));
    ASSERT_TRUE(defaults.set("blob", Bytes{1}));
    ASSERT_TRUE(defaults.set("when", when));

    EXPECT_EQ(defaults.boolValue("flag"), true);
    EXPECT_EQ(defaults.boolValue("off"), false);
    EXPECT_EQ(defaults.intValue("count"), 1);
    EXPECT_EQ(defaults.doubleValue("ratio"), 1.0);
    EXPECT_EQ(defaults.stringValue("name"), "1");
    EXPECT_EQ(defaults.dataValue("blob"), Bytes{1});
    EXPECT_EQ(defaults.dateValue("when"), when);
    for (const char* key : {"flag", "off", "count", "ratio", "name", "blob", "when"}) {
        EXPECT_EQ(typedReadsAnswering(defaults, key), 1) << key;
    }
    EXPECT_FALSE(defaults.objectExists("missing"));
    EXPECT_EQ(typedReadsAnswering(defaults, "missing"), 0);
}

TYPED_TEST(UserDefaultsContract, EdgeValuesSurviveExactly) {
    UserDefaults& defaults = *this->defaults;
    const std::string withNul("a\0b\xff\xc3\xa9", 6);
    const Bytes binary{0, 0xff, 0, 0x7f, 0};
    defaults.set("min", std::numeric_limits<std::int64_t>::min());
    defaults.set("max", std::numeric_limits<std::int64_t>::max());
    defaults.set("inf", -std::numeric_limits<double>::infinity());
    defaults.set("nan", std::numeric_limits<double>::quiet_NaN());
    defaults.set("negativeZero", -0.0);
    defaults.set("emptyText", std::string());
    defaults.set("emptyData", Bytes());
    defaults.set("withNul", withNul);
    defaults.set("binary", binary);
    defaults.set(std::string_view("k\0x", 3), std::string("after nul"));
    defaults.set("", std::string("empty key"));
    // Seconds since 1970 in a double hold a present-day date to well under a microsecond.
    const Date recent = Date(std::chrono::seconds(1'733'443'200)) + 123'456us;
    const Date early = Date(std::chrono::seconds(-86'400 * 365)) + 500ms;
    defaults.set("recent", recent);
    defaults.set("early", early);

    EXPECT_EQ(defaults.intValue("min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(defaults.intValue("max"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(defaults.doubleValue("inf"), -std::numeric_limits<double>::infinity());
    ASSERT_TRUE(defaults.doubleValue("nan").has_value());
    EXPECT_TRUE(std::isnan(*defaults.doubleValue("nan")));
    ASSERT_TRUE(defaults.doubleValue("negativeZero").has_value());
    EXPECT_TRUE(std::signbit(*defaults.doubleValue("negativeZero")));
    EXPECT_EQ(defaults.stringValue("emptyText"), "");
    EXPECT_EQ(defaults.dataValue("emptyData"), Bytes());
    EXPECT_EQ(defaults.stringValue("withNul"), withNul);
    EXPECT_EQ(defaults.dataValue("binary"), binary);
    EXPECT_EQ(defaults.stringValue(std::string_view("k\0x", 3)), "after nul");
    EXPECT_FALSE(defaults.objectExists("k"));
    EXPECT_EQ(defaults.stringValue(""), "empty key");
    EXPECT_LE(std::chrono::abs(defaults.dateValue("recent").value_or(Date()) - recent), 1us);
    EXPECT_EQ(defaults.dateValue("early"), early);
}

TYPED_TEST(UserDefaultsContract, OverwriteReplacesTypeAndRemoveDeletes) {
    UserDefaults& defaults = *this->defaults;
    defaults.set("key", std::int64_t{7});
    ASSERT_TRUE(defaults.setDataText("key", "{\"a\":1}"));
    EXPECT_FALSE(defaults.intValue("key").has_value());
    EXPECT_EQ(defaults.dataText("key"), "{\"a\":1}");
    EXPECT_FALSE(defaults.stringValue("key").has_value());

    defaults.remove("key");
    EXPECT_FALSE(defaults.objectExists("key"));
    defaults.remove("key");  // removing what is absent is harmless
    EXPECT_TRUE(defaults.set("key", false));
    EXPECT_TRUE(defaults.objectExists("key"));
}

TYPED_TEST(UserDefaultsContract, SuitesAreSeparateAndRemovable) {
    auto& defaults = this->defaults;
    defaults->set("key", std::int64_t{1});
    auto suite = defaults->suite("trial");
    EXPECT_FALSE(suite->objectExists("key"));
    suite->set("key", std::int64_t{2});
    suite->set("other", true);
    defaults->suite("unrelated")->set("key", std::int64_t{3});

    EXPECT_EQ(defaults->suite("trial")->intValue("key"), 2);
    EXPECT_EQ(defaults->suite("")->intValue("key"), 1);  // the empty name is the standard suite
    EXPECT_FALSE(defaults->objectExists("other"));

    defaults->removeSuite("trial");
    EXPECT_FALSE(suite->objectExists("key"));
    EXPECT_FALSE(suite->objectExists("other"));
    EXPECT_EQ(defaults->intValue("key"), 1);
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
    EXPECT_EQ(defaults.intValue("count"), 2);
    EXPECT_EQ(defaults.suite("trial")->boolValue("seen"), true);

    EXPECT_FALSE(defaults.transaction([](UserDefaults& store) {
        store.set("count", std::int64_t{100});
        store.remove("count");
        store.suite("trial")->set("seen", false);
        return false;
    }));
    EXPECT_EQ(defaults.intValue("count"), 2);
    EXPECT_EQ(defaults.suite("trial")->boolValue("seen"), true);

    EXPECT_THROW(defaults.transaction([](UserDefaults& store) -> bool {
        store.set("count", std::int64_t{100});
        throw std::runtime_error("body failed");
    }),
                 std::runtime_error);
    EXPECT_EQ(defaults.intValue("count"), 2);

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
    std::thread first(increment);
    std::thread second(increment);
    first.join();
    second.join();
    EXPECT_EQ(defaults->intValue("count"), 2 * kIncrements);
}

}  // namespace
}  // namespace tessaril
