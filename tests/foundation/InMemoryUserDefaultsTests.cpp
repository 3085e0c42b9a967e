// SPDX-License-Identifier: GPL-3.0-or-later
// What every store does is in tests/platform/UserDefaultsContractTests.cpp; this is the switch only
// the in-memory store has, which the store-failure tests lean on.
#include "core/foundation/InMemoryUserDefaults.h"

#include <gtest/gtest.h>

namespace tessaril {
namespace {

TEST(InMemoryUserDefaults, ReadOnlyStoreKeepsWhatItHad) {
    InMemoryUserDefaults defaults;
    defaults.set("key", std::string("kept"));
    defaults.suite("trial")->set("key", true);
    defaults.setWritable(false);
    EXPECT_FALSE(defaults.set("key", std::string("lost")));
    defaults.remove("key");
    defaults.removeSuite("trial");
    bool bodyRan = false;
    EXPECT_FALSE(defaults.transaction([&](UserDefaults&) { return bodyRan = true; }));
    EXPECT_FALSE(bodyRan);
    EXPECT_EQ(defaults.stringValue("key"), "kept");
    EXPECT_EQ(defaults.suite("trial")->boolValue("key"), true);
}

}  // namespace
}  // namespace tessaril
