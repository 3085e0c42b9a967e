// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RuleBundleTransaction.h"
#include "tests/support/CaseTable.h"
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

using Entries = std::map<std::string, std::string>;

TEST(RuleBundleTransactionTest, ActivationKeepsExactlyOneEarlierBundle) {
    const auto cases = testing::readCases("updates/bundle-activation.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const TemporaryDirectory folder;
        const fs::path root = folder.path() / "rules";
        fs::create_directories(root);
        if (!row[0].is_null()) bundle(root / "active", row[0].get<std::string>());
        if (!row[1].is_null()) bundle(root / "previous", row[1].get<std::string>());
        const fs::path staged = bundle(folder.path() / "staged", "new");
        RuleBundleTransaction::activate(staged, root);
        EXPECT_EQ(rootContents(root), row[2].get<Entries>()) << row[0] << row[1];
        EXPECT_FALSE(fs::exists(staged));
    }
}

TEST(RuleBundleTransactionTest, FailuresPutTheOldBundlesBack) {
    const auto cases = testing::readCases("updates/bundle-activation-failures.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const std::string name = row[0];
        const auto failing = row[1].get<std::vector<int>>();
        const bool throwBefore = row[2];
        const std::string expectedError = row[3];
        const TemporaryDirectory folder;
        const fs::path root = folder.path();
        bundle(root / "active", "A");
        bundle(root / "previous", "P");
        const fs::path staged = bundle(root / "staged", "new");
        int renames = 0;
        const auto rename = [&](const fs::path& from, const fs::path& to) {
            ++renames;
            if (std::find(failing.begin(), failing.end(), renames) != failing.end()) {
                throw fs::filesystem_error("rename " + std::to_string(renames), from, to,
                                           std::make_error_code(std::errc::io_error));
            }
            fs::rename(from, to);
        };
        const auto beforeActivation = [throwBefore] {
            if (throwBefore) throw std::runtime_error("before activation");
        };
        try {
            RuleBundleTransaction::activate(staged, root, beforeActivation, rename);
            ADD_FAILURE() << name << ": no error";
        } catch (const std::exception& error) {
            EXPECT_NE(std::string(error.what()).find(expectedError), std::string::npos) << name << ": " << error.what();
        }
        EXPECT_EQ(rootContents(root), row[4].get<Entries>()) << name;
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
