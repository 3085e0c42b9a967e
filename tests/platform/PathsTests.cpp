// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "core/foundation/KnownPrefilters.h"
#include "platform/autostart/XdgAutostart.h"
#include "platform/paths/CheckedRuleFiles.h"
#include "platform/paths/CoreResources.h"
#include "platform/paths/XdgPaths.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

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
    EXPECT_EQ(chosen.applicationSupportDirectory(), fs::path("/data/ada"));
    EXPECT_EQ(chosen.configDirectory(), fs::path("/etc-user/ada"));
    // Relative and empty values do not count; nor does a relative home, for which the account's is used.
    XdgPaths defaults(environmentOf({{"HOME", "/home/ada"}, {"XDG_DATA_HOME", "data"}, {"XDG_CONFIG_HOME", ""}}));
    EXPECT_EQ(defaults.applicationSupportDirectory(), fs::path("/home/ada/.local/share"));
    EXPECT_EQ(defaults.configDirectory(), fs::path("/home/ada/.config"));
    XdgPaths relative(environmentOf({{"HOME", "relative/home"}}));
    EXPECT_TRUE(relative.homeDirectory().is_absolute());
}

// The environment names the bundle or its folder; without it (or when it has none) the bundle
// beside the executable, then in an installed prefix, then the source tree's.
TEST(CoreResources, LookupOrder) {
    testing::TemporaryDirectory folder;
    const auto bundleIn = [&](const std::string& parent) {
        fs::create_directories(folder.path() / parent / std::string(kCoreBundleName));
        return folder.path() / parent / std::string(kCoreBundleName);
    };
    const auto found = [&](std::map<std::string, std::string, std::less<>> environment, const std::string& executable) {
        const auto bundle = locateCoreResources(environmentOf(std::move(environment)), folder.path() / executable);
        return bundle ? bundle->directory() : fs::path();
    };
    const fs::path chosen = bundleIn("chosen");
    const fs::path beside = bundleIn("bin");
    fs::create_directories(folder.path() / "empty");
    EXPECT_EQ(found({{"TESSARIL_RESOURCES", chosen.string()}}, "bin"), chosen);
    EXPECT_EQ(found({{"TESSARIL_RESOURCES", chosen.parent_path().string()}}, "bin"), chosen);
    EXPECT_EQ(found({{"TESSARIL_RESOURCES", (folder.path() / "empty").string()}}, "bin"), beside);
    const auto fallback = locateCoreResources(environmentOf({}), folder.path() / "prefix/bin");
    EXPECT_TRUE(fallback && fallback->url("data.min", "json"));
    const fs::path installed = bundleIn("prefix/share/tessaril");
    fs::create_directories(folder.path() / "prefix/bin");
    EXPECT_EQ(found({}, "prefix/bin"), installed);
    EXPECT_TRUE(coreResources() && coreResources()->url("data.min", "json"));
}

// The build's table of the shipped patterns' prefilters must give what reading each pattern gives,
// and be in the order its lookup searches; a pattern outside it is read.
TEST(CoreResources, KnownPrefiltersAreWhatReadingThePatternsGives) {
    const auto known = knownShippedPrefilters();
    ASSERT_GT(known.size(), 100U);
    EXPECT_EQ(coreResources()->knownPrefilters().size(), known.size());
    const KnownPrefilters table(known);
    const auto same = [](const RulePrefilter& a, const RulePrefilter& b) {
        return a.requirements() == b.requirements() && a.caseInsensitive() == b.caseInsensitive();
    };
    for (std::size_t i = 0; i < known.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(known[i - 1].pattern, known[i].pattern);
        }
        const RulePrefilter read = RulePrefilter::fromPattern(known[i].pattern, true);
        EXPECT_TRUE(same(KnownPrefilters::decode(known[i].encoded), read)) << known[i].pattern;
        EXPECT_TRUE(same(table.caseInsensitive(known[i].pattern), read)) << known[i].pattern;
    }
    // A form cut short (a fragment missing, one longer than what is left) lets every text through.
    for (const std::string_view malformed : {"i\002\003abc", "i\001\011abc"})
        EXPECT_TRUE(KnownPrefilters::decode(malformed).requirements().empty()) << malformed;
    std::vector<std::pair<std::string, RulePrefilter>> recorded;
    KnownPrefilters recording(known);
    recording.recordInto(&recorded);
    const std::string unknown = "^(?:zq|xj)wv[0-9]+$";
    EXPECT_TRUE(same(recording.caseInsensitive(unknown), RulePrefilter::fromPattern(unknown, true)));
    EXPECT_EQ(recording.encoded(unknown), std::nullopt);
    (void)recording.caseInsensitive(known[0].pattern);
    ASSERT_EQ(recorded.size(), 1U);
    EXPECT_EQ(recorded[0].first, unknown);
}

TEST(XdgAutostart, WritesAnEntryThatStartsThisProgramAndRemovesIt) {
    const testing::TemporaryDirectory config;
    // The Exec line quotes a path with spaces, doubles a percent sign and escapes twice what the
    // entry's quoting and its string syntax both take a backslash for.
    const std::pair<const char*, const char*> executables[] = {
        {"/opt/tessaril/bin/tessaril-app", "Exec=/opt/tessaril/bin/tessaril-app"},
        {"/home/a b/100%/$x\\y/tessaril-app", R"(Exec="/home/a b/100%%/\\$x\\\\y/tessaril-app")"},
    };
    for (const auto& [executable, execLine] : executables) {
        SCOPED_TRACE(executable);
        const XdgAutostart autostart(config.path(), executable);
        EXPECT_EQ(autostart.setEnabled(true), std::nullopt);
        EXPECT_EQ(autostart.setEnabled(true), std::nullopt);
        EXPECT_EQ(testing::readFile(config.path() / "autostart/tessaril.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Tessaril\n" + std::string(execLine) +
                      "\nX-GNOME-Autostart-enabled=true\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(config.path() / "autostart"), fs::directory_iterator()), 1);
        EXPECT_EQ(autostart.setEnabled(false), std::nullopt);
        EXPECT_FALSE(fs::exists(autostart.entryPath()));
        EXPECT_EQ(autostart.setEnabled(false), std::nullopt);
    }
}

// Permissions do not stop root, who runs CI: a file where a folder should be stops everyone.
TEST(XdgAutostart, ReportsWhyTheEntryCannotBeWrittenAndLeavesNothingBehind) {
    const testing::TemporaryDirectory config;
    std::ofstream(config.path() / "file") << "not a folder";
    const auto blocked = XdgAutostart(config.path() / "file", "/usr/bin/tessaril-app").setEnabled(true);
    ASSERT_TRUE(blocked.has_value());
    EXPECT_TRUE(blocked->starts_with("cannot create " + (config.path() / "file/autostart").string() + ": "))
        << *blocked;

    fs::create_directories(config.path() / "autostart/tessaril.desktop/inside");
    const XdgAutostart overFolder(config.path(), "/usr/bin/tessaril-app");
    EXPECT_TRUE(overFolder.setEnabled(true).has_value());
    EXPECT_TRUE(overFolder.setEnabled(false).has_value());
    EXPECT_EQ(std::distance(fs::directory_iterator(config.path() / "autostart"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tessaril
