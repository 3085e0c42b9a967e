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

// A run of the tool sees each setting as it first read it, whatever changes underneath meanwhile.
TEST(OverlayUserDefaults, SnapshotKeepsEachKeysFirstAnswer) {
    InMemoryUserDefaults base;
    base.set("kept", std::int64_t{1});
    base.suite("trial")->set("kept", std::int64_t{7});
    OverlayUserDefaults overlay(base, OverlayUserDefaults::BaseReads::snapshot);
    auto suite = overlay.suite("trial");
    EXPECT_EQ(overlay.intValue("kept"), 1);
    EXPECT_FALSE(overlay.objectExists("absent"));
    EXPECT_EQ(suite->intValue("kept"), 7);
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
