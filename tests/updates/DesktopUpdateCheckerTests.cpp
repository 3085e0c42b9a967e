// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/ManualTaskExecutor.h"
#include "core/foundation/ScriptedHttpsClient.h"
#include "core/updates/DesktopUpdateChecker.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace tessaril {
namespace {

using json = nlohmann::json;

json release(const json& desktop, const std::string& product = "Tessaril") {
    return {{"product", product}, {"desktop", desktop}};
}

// The release file for `desktop`, served whole.
ScriptedHttpsClient::Reply served(const json& desktop, const std::string& product = "Tessaril", int status = 200) {
    return {status, release(desktop, product).dump(), {}};
}

// The running application is 1.4, build 40.
TEST(DesktopUpdateCheckerTest, JudgesTheReleaseFileAgainstTheRunningApplication) {
    const std::string failed = "Could not check for updates. Try again later.";
    std::vector<std::pair<ScriptedHttpsClient::Reply, std::string>> cases = {
        {{200, "", {}}, failed},
        {ScriptedHttpsClient::redirect("https://elsewhere.example/tessaril/releases/desktop.json", 302), failed},
    };
    for (const auto& row : testing::readCases("updates/desktop-releases.json"))
        cases.emplace_back(served(row[0], row[1].get<std::string>(), row[2].get<int>()),
                           row[3] == "failed" ? failed : row[3].get<std::string>());
    ASSERT_GT(cases.size(), 2U);
    for (const auto& [reply, expected] : cases) {
        ScriptedHttpsClient web;
        web.answer(DesktopUpdateChecker::releaseURL(), reply);
        web.answer("https://elsewhere.example/tessaril/releases/desktop.json", served({{"currentVersion", "9"}}));
        ManualTaskExecutor executor;
        const StaticUpdateSession session(web);
        DesktopUpdateChecker checker(session, executor);
        std::vector<std::string> completions;
        const auto done = [&completions](const DesktopUpdateStatus& status) {
            completions.push_back(status.displayText().value_or(""));
        };
        checker.check("1.4", 40, done);
        checker.check("1.4", 40, done);
        executor.runBackgroundWork();
        executor.runMainTasks();
        EXPECT_EQ(completions, std::vector<std::string>{expected}) << reply.body;
        EXPECT_EQ(web.requests().size(), 1U) << reply.body;
        EXPECT_EQ(checker.latest().has_value(), expected != failed) << reply.body;
        // A link off the origin is dropped; the release is still offered.
        EXPECT_EQ(checker.latest().value_or(DesktopReleaseInfo{}).downloadUrl, std::nullopt) << reply.body;
    }
}

TEST(DesktopUpdateCheckerTest, KeepsOnlyLinksOnTheOrigin) {
    const auto cases = testing::readCases("updates/trusted-links.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const auto expected = row[1].is_null() ? std::nullopt : std::optional(row[1].get<std::string>());
        EXPECT_EQ(DesktopUpdateChecker::trusted(row[0].get<std::string>()), expected) << row[0];
    }
}

}  // namespace
}  // namespace tessaril
