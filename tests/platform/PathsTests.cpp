// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/paths/CoreResources.h"
#include "platform/paths/XdgPaths.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <map>

namespace tessaril {
namespace {

namespace fs = std::filesystem;

EnvironmentLookup environmentOf(std::map<std::string, std::string, std::less<>> variables) {
    return [variables = std::move(variables)](std::string_view name) -> std::optional<std::string> {
        if (auto found = variables.find(name); found != variables.end()) return found->second;
        return std::nullopt;
    };
}

TEST(XdgPaths, FollowsTheEnvironmentAndFallsBackUnderHome) {
    XdgPaths chosen(
        environmentOf({{"HOME", "/home/ada"}, {"XDG_DATA_HOME", "/data/ada"}, {"XDG_CONFIG_HOME", "/etc-user/ada"}}));
    EXPECT_EQ(chosen.homeDirectory(), fs::path("/home/ada"));
    EXPECT_EQ(chosen.applicationSupportDirectory(), fs::path("/data/ada"));
    EXPECT_EQ(chosen.configDirectory(), fs::path("/etc-user/ada"));
    EXPECT_FALSE(chosen.sharedContainer("group.tessaril").has_value());

    // Relative and empty values do not count.
    XdgPaths defaults(environmentOf({{"HOME", "/home/ada"}, {"XDG_DATA_HOME", "data"}, {"XDG_CONFIG_HOME", ""}}));
    EXPECT_EQ(defaults.applicationSupportDirectory(), fs::path("/home/ada/.local/share"));
    EXPECT_EQ(defaults.configDirectory(), fs::path("/home/ada/.config"));
}

TEST(XdgPaths, WithoutHomeUsesTheAccountsHome) {
    XdgPaths paths(environmentOf({{"HOME", "relative/home"}}));
    EXPECT_TRUE(paths.homeDirectory().is_absolute());
    EXPECT_NE(paths.homeDirectory(), fs::path("relative/home"));
    EXPECT_EQ(paths.configDirectory(), paths.homeDirectory() / ".config");
}

class CoreResourcesLookup : public ::testing::Test {
protected:
    fs::path makeBundle(const fs::path& parent) {
        fs::path bundle = parent / std::string(kCoreBundleName);
        fs::create_directories(bundle);
        return bundle;
    }
    testing::TemporaryDirectory folder;
};

TEST_F(CoreResourcesLookup, EnvironmentWinsAsBundleOrParent) {
    const fs::path chosen = makeBundle(folder.path() / "chosen");
    const fs::path beside = makeBundle(folder.path() / "bin");

    auto byBundle = locateCoreResources(environmentOf({{"TESSARIL_RESOURCES", chosen.string()}}), beside.parent_path());
    ASSERT_TRUE(byBundle.has_value());
    EXPECT_EQ(byBundle->directory(), chosen);

    auto byParent = locateCoreResources(environmentOf({{"TESSARIL_RESOURCES", (folder.path() / "chosen").string()}}),
                                        beside.parent_path());
    ASSERT_TRUE(byParent.has_value());
    EXPECT_EQ(byParent->directory(), chosen);
}

TEST_F(CoreResourcesLookup, BasesWithoutTheBundleAreSkipped) {
    fs::create_directories(folder.path() / "empty");
    const fs::path beside = makeBundle(folder.path() / "bin");
    auto found = locateCoreResources(environmentOf({{"TESSARIL_RESOURCES", (folder.path() / "empty").string()}}),
                                     folder.path() / "bin");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->directory(), beside);

    // With nothing else to go on, the source tree's own bundle is found.
    auto fallback = locateCoreResources(environmentOf({}), folder.path() / "nowhere");
    ASSERT_TRUE(fallback.has_value());
    EXPECT_TRUE(fallback->url("data.min", "json").has_value());
}

TEST_F(CoreResourcesLookup, FindsTheInstalledLayout) {
    fs::create_directories(folder.path() / "prefix" / "bin");
    const fs::path installed = makeBundle(folder.path() / "prefix" / "share" / "tessaril");
    auto found = locateCoreResources(environmentOf({}), folder.path() / "prefix" / "bin");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->directory(), installed);
}

TEST(CoreResources, ProcessLookupIsStableAndFindsTheRules) {
    const auto& first = coreResources();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(&first, &coreResources());
    EXPECT_TRUE(first->url("data.min", "json").has_value());
    auto executable = executableDirectory();
    ASSERT_TRUE(executable.has_value());
    EXPECT_TRUE(fs::is_directory(*executable));
}

}  // namespace
}  // namespace tessaril
