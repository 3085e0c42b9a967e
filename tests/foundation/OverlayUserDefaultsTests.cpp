// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/OverlayUserDefaults.h"

#include <gtest/gtest.h>

#include "core/foundation/InMemoryUserDefaults.h"

namespace tessaril {
namespace {

// Changes stay in memory; the store underneath is untouched, and what it gains later shows through
// unless overwritten or removed, in suites too.
TEST(OverlayUserDefaults, ReadsThroughAndKeepsChangesInMemory) {
    InMemoryUserDefaults base;
    base.set("kept", std::int64_t{1});
    base.set("replaced", std::string("stored"));
    base.set("removed", true);
    base.suite("trial")->set("a", std::int64_t{1});

    OverlayUserDefaults overlay(base);
    EXPECT_TRUE(overlay.set("replaced", std::string("memory")));
    overlay.remove("removed");
    auto suite = overlay.suite("trial");
    suite->set("b", std::int64_t{2});
    base.set("kept", std::int64_t{2});
    base.set("removed", false);
    EXPECT_EQ(overlay.intValue("kept"), 2);
    EXPECT_EQ(overlay.stringValue("replaced"), "memory");
    EXPECT_FALSE(overlay.objectExists("removed"));
    EXPECT_EQ(overlay.suite("trial")->intValue("a"), 1);
    EXPECT_EQ(base.stringValue("replaced"), "stored");
    EXPECT_FALSE(base.suite("trial")->objectExists("b"));

    overlay.removeSuite("trial");
    EXPECT_FALSE(suite->objectExists("a"));
    EXPECT_EQ(base.suite("trial")->intValue("a"), 1);
    overlay.set("removed", std::int64_t{5});
    EXPECT_EQ(overlay.intValue("removed"), 5);
}

// Counts the reads that reach the store underneath.
class CountingDefaults final : public UserDefaults {
public:
    std::optional<DefaultsValue> value(std::string_view key) const override {
        ++reads;
        return inner.value(key);
    }
    bool set(std::string_view key, DefaultsValue value) override { return inner.set(key, std::move(value)); }
    void remove(std::string_view key) override { inner.remove(key); }
    std::unique_ptr<UserDefaults> suite(std::string_view name) override { return inner.suite(name); }
    void removeSuite(std::string_view name) override { inner.removeSuite(name); }
    bool transaction(const std::function<bool(UserDefaults&)>& body) override { return inner.transaction(body); }

    InMemoryUserDefaults inner;
    mutable int reads = 0;
};

// A run of the tool reads each setting once, whatever changes underneath while it runs.
TEST(OverlayUserDefaults, SnapshotReadsEachKeyOnceAndKeepsItsFirstAnswer) {
    CountingDefaults base;
    base.set("kept", std::int64_t{1});
    base.suite("trial")->set("kept", std::int64_t{7});
    OverlayUserDefaults overlay(base, OverlayUserDefaults::BaseReads::snapshot);
    auto suite = overlay.suite("trial");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(overlay.intValue("kept"), 1);
        EXPECT_FALSE(overlay.objectExists("absent"));
        EXPECT_EQ(suite->intValue("kept"), 7);
    }
    EXPECT_EQ(base.reads, 2);
    // Later changes underneath stay unseen, absence included; the overlay's own changes still win.
    base.set("kept", std::int64_t{2});
    base.set("absent", true);
    base.suite("trial")->set("kept", std::int64_t{8});
    EXPECT_EQ(overlay.intValue("kept"), 1);
    EXPECT_FALSE(overlay.objectExists("absent"));
    EXPECT_EQ(suite->intValue("kept"), 7);
    overlay.set("kept", std::int64_t{3});
    EXPECT_EQ(overlay.intValue("kept"), 3);
}

}  // namespace
}  // namespace tessaril
