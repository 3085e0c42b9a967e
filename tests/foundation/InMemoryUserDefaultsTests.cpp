// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/InMemoryUserDefaults.h"

#include <gtest/gtest.h>

namespace tessaril {
namespace {

TEST(InMemoryUserDefaults, TypedReadsOfWrongTypeAreEmpty) {
    InMemoryUserDefaults defaults;
    ASSERT_TRUE(defaults.set("flag", true));
    ASSERT_TRUE(defaults.setDataText("doc", "{}"));
    EXPECT_EQ(defaults.boolValue("flag"), true);
    EXPECT_FALSE(defaults.intValue("flag").has_value());
    EXPECT_FALSE(defaults.dataText("flag").has_value());
    EXPECT_EQ(defaults.dataText("doc"), "{}");
    EXPECT_TRUE(defaults.objectExists("doc"));
    defaults.remove("doc");
    EXPECT_FALSE(defaults.objectExists("doc"));
}

TEST(InMemoryUserDefaults, SuitesAreSeparateAndRemovable) {
    InMemoryUserDefaults defaults;
    defaults.set("key", std::int64_t{1});
    auto suite = defaults.suite("validation");
    EXPECT_FALSE(suite->objectExists("key"));
    suite->set("key", std::int64_t{2});
    EXPECT_EQ(defaults.suite("validation")->intValue("key"), 2);
    defaults.removeSuite("validation");
    EXPECT_FALSE(suite->objectExists("key"));
    EXPECT_EQ(defaults.intValue("key"), 1);
}

TEST(InMemoryUserDefaults, ReadOnlyStoreKeepsWhatItHad) {
    InMemoryUserDefaults defaults;
    defaults.set("key", std::string("kept"));
    defaults.setWritable(false);
    EXPECT_FALSE(defaults.set("key", std::string("lost")));
    defaults.remove("key");
    EXPECT_EQ(defaults.stringValue("key"), "kept");
}

}  // namespace
}  // namespace tessaril
