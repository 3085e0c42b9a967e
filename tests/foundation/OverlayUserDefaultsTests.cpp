// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/OverlayUserDefaults.h"

#include <gtest/gtest.h>

namespace tessaril {
namespace {

TEST(OverlayUserDefaults, ReadsThroughAndKeepsChangesInMemory) {
    InMemoryUserDefaults base;
    base.set("kept", std::int64_t{1});
    base.set("replaced", std::string("stored"));
    base.set("removed", true);

    OverlayUserDefaults overlay(base);
    EXPECT_EQ(overlay.intValue("kept"), 1);
    EXPECT_TRUE(overlay.set("replaced", std::string("memory")));
    overlay.remove("removed");
    EXPECT_TRUE(overlay.setDataText("new", "{}"));

    EXPECT_EQ(overlay.stringValue("replaced"), "memory");
    EXPECT_FALSE(overlay.objectExists("removed"));
    EXPECT_EQ(overlay.dataText("new"), "{}");
    // The store underneath is untouched, and what it gains later shows through unless overwritten.
    EXPECT_EQ(base.stringValue("replaced"), "stored");
    EXPECT_EQ(base.boolValue("removed"), true);
    EXPECT_FALSE(base.objectExists("new"));
    base.set("kept", std::int64_t{2});
    base.set("removed", false);
    EXPECT_EQ(overlay.intValue("kept"), 2);
    EXPECT_FALSE(overlay.objectExists("removed"));

    // A removed key can be set again.
    overlay.set("removed", std::int64_t{5});
    EXPECT_EQ(overlay.intValue("removed"), 5);
}

TEST(OverlayUserDefaults, SuitesReadThroughAndRemovalHidesTheStore) {
    InMemoryUserDefaults base;
    base.suite("trial")->set("a", std::int64_t{1});
    base.suite("trial")->set("b", std::int64_t{2});

    OverlayUserDefaults overlay(base);
    auto suite = overlay.suite("trial");
    EXPECT_EQ(suite->intValue("a"), 1);
    suite->set("a", std::int64_t{10});
    // Two handles on one suite share their changes; the overlay's own keys are separate.
    EXPECT_EQ(overlay.suite("trial")->intValue("a"), 10);
    EXPECT_FALSE(overlay.objectExists("a"));

    overlay.removeSuite("trial");
    EXPECT_FALSE(suite->objectExists("a"));
    EXPECT_FALSE(suite->objectExists("b"));
    suite->set("c", std::int64_t{3});
    EXPECT_EQ(overlay.suite("trial")->intValue("c"), 3);
    EXPECT_EQ(base.suite("trial")->intValue("a"), 1);
    EXPECT_FALSE(base.suite("trial")->objectExists("c"));
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

TEST(OverlayUserDefaults, SnapshotReadsEachKeyOnceAndKeepsItsFirstAnswer) {
    CountingDefaults base;
    base.set("kept", std::int64_t{1});
    OverlayUserDefaults overlay(base, OverlayUserDefaults::BaseReads::snapshot);

    EXPECT_EQ(overlay.intValue("kept"), 1);
    EXPECT_FALSE(overlay.objectExists("absent"));
    const int afterFirstReads = base.reads;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(overlay.intValue("kept"), 1);
        EXPECT_FALSE(overlay.objectExists("absent"));
    }
    EXPECT_EQ(base.reads, afterFirstReads);

    // Later changes underneath stay unseen, absence included; the overlay's own changes still win.
    base.set("kept", std::int64_t{2});
    base.set("absent", true);
    EXPECT_EQ(overlay.intValue("kept"), 1);
    EXPECT_FALSE(overlay.objectExists("absent"));
    overlay.set("kept", std::int64_t{3});
    EXPECT_EQ(overlay.intValue("kept"), 3);
    overlay.remove("kept");
    EXPECT_FALSE(overlay.objectExists("kept"));

    // Suites keep their own snapshot; a removed suite forgets it.
    base.suite("trial")->set("kept", std::int64_t{7});
    auto suite = overlay.suite("trial");
    EXPECT_EQ(suite->intValue("kept"), 7);
    base.suite("trial")->set("kept", std::int64_t{8});
    EXPECT_EQ(suite->intValue("kept"), 7);
    overlay.removeSuite("trial");
    EXPECT_FALSE(suite->objectExists("kept"));
    EXPECT_EQ(base.suite("trial")->intValue("kept"), 8);
}

}  // namespace
}  // namespace tessaril
