// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RuleBundleTransaction.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TemporaryDirectory;
using testing::writeFile;

// Every entry directly under the root, with the "version" file each bundle holds ("" for none);
// held directories show up as "held-*".
std::map<std::string, std::string> rootContents(const fs::path& root) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::directory_iterator(root)) {
        std::string name = entry.path().filename().string();
        if (name.starts_with("held-")) name = "held-*";
        entries[name] = readFile(entry.path() / "version");
    }
    return entries;
}

fs::path bundle(const fs::path& at, std::string_view version) {
    return writeFile(at / "version", version).parent_path();
}

TEST(RuleBundleTransactionTest, ActivationKeepsExactlyOneEarlierBundle) {
    // The active and previous bundles before, and every entry after.
    const std::vector<std::tuple<const char*, const char*, std::map<std::string, std::string>>> cases = {
        {nullptr, nullptr, {{"active", "new"}}},
        {"A", nullptr, {{"active", "new"}, {"previous", "A"}}},
        {"A", "P", {{"active", "new"}, {"previous", "A"}}},
        // Without an active bundle, start-up uses the previous one: it stays the one to fall back to.
        {nullptr, "P", {{"active", "new"}, {"previous", "P"}}},
    };
    for (const auto& [active, previous, after] : cases) {
        const TemporaryDirectory folder;
        const fs::path root = folder.path() / "rules";
        fs::create_directories(root);
        if (active) bundle(root / "active", active);
        if (previous) bundle(root / "previous", previous);
        const fs::path staged = bundle(folder.path() / "staged", "new");
        RuleBundleTransaction::activate(staged, root);
        EXPECT_EQ(rootContents(root), after) << (active ? active : "-") << (previous ? previous : "-");
        EXPECT_FALSE(fs::exists(staged));
    }
}

// Each failure, wherever it happens, leaves active and previous as they were (or throws the error of
// the undo that failed), never a held directory, and the staged bundle where it was.
TEST(RuleBundleTransactionTest, FailuresPutTheOldBundlesBack) {
    const std::map<std::string, std::string> before = {{"active", "A"}, {"previous", "P"}, {"staged", "new"}};
    // The name; the renames, counted from 1, that fail with their own error; whether the step before
    // activation throws; the error expected and every entry after.
    using Case = std::tuple<std::string, std::vector<int>, bool, std::string, std::map<std::string, std::string>>;
    // What a failed undo leaves: the old previous bundle held aside, the old active one where it was
    // or already moved to previous.
    const std::map<std::string, std::string> activeKept = {{"held-*", "P"}, {"active", "A"}, {"staged", "new"}};
    const std::map<std::string, std::string> activeMoved = {{"held-*", "P"}, {"previous", "A"}, {"staged", "new"}};
    const std::vector<Case> cases = {
        {"previous cannot be held", {1}, false, "rename 1", before},
        {"active cannot move", {2}, false, "rename 2", before},
        {"active cannot move nor previous come back", {2, 3}, false, "rename 3", activeKept},
        {"before activation throws", {}, true, "before activation", before},
        {"staged cannot move", {3}, false, "rename 3", before},
        {"staged cannot move nor active come back", {3, 4}, false, "rename 4", activeMoved},
        {"staged cannot move nor previous come back", {3, 5}, false, "rename 5", activeKept},
    };
    for (const auto& [name, failing, throwBefore, expectedError, after] : cases) {
        const TemporaryDirectory folder;
        const fs::path root = folder.path();
        bundle(root / "active", "A");
        bundle(root / "previous", "P");
        const fs::path staged = bundle(root / "staged", "new");
        int renames = 0;
        const auto rename = [&, &failing = failing](const fs::path& from, const fs::path& to) {
            ++renames;
            if (std::find(failing.begin(), failing.end(), renames) != failing.end()) {
                throw fs::filesystem_error("rename " + std::to_string(renames), from, to,
                                           std::make_error_code(std::errc::io_error));
            }
            fs::rename(from, to);
        };
        const auto beforeActivation = [throwBefore = throwBefore] {
            if (throwBefore) throw std::runtime_error("before activation");
        };
        try {
            RuleBundleTransaction::activate(staged, root, beforeActivation, rename);
            ADD_FAILURE() << name << ": no error";
        } catch (const std::exception& error) {
            EXPECT_NE(std::string(error.what()).find(expectedError), std::string::npos) << name << ": " << error.what();
        }
        EXPECT_EQ(rootContents(root), after) << name;
    }
}

// Real file system refusals, not simulated ones: a staged directory that is gone, and one that cannot
// be reached because a component of its path is a regular file (a directory made read-only would not
// do, since the tests may run as root, who may write anywhere).
TEST(RuleBundleTransactionTest, AStagedBundleTheFileSystemCannotMoveRestoresTheOldBundles) {
    const TemporaryDirectory folder;
    const fs::path root = folder.path() / "rules";
    bundle(root / "active", "A");
    bundle(root / "previous", "P");
    const fs::path notADirectory = writeFile(folder.path() / "file", "x");
    for (const fs::path& staged : {folder.path() / "vanished", notADirectory / "staged"}) {
        try {
            RuleBundleTransaction::activate(staged, root);
            ADD_FAILURE() << staged << ": no error";
        } catch (const fs::filesystem_error& error) {
            EXPECT_EQ(error.path1(), staged);
        }
        EXPECT_EQ(rootContents(root), (std::map<std::string, std::string>{{"active", "A"}, {"previous", "P"}}));
    }
}

}  // namespace
}  // namespace tessaril
