// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/ManualTaskExecutor.h"
#include "core/foundation/ScriptedHttpsClient.h"
#include "core/updates/DesktopUpdateChecker.h"

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
    const std::string upToDate = "Tessaril is up to date.";
    const std::pair<ScriptedHttpsClient::Reply, std::string> cases[] = {
        {served({{"currentVersion", "1.4"}, {"currentBuild", 41}, {"downloadUrl", "https://elsewhere.example/get"}}),
         "Update available: Tessaril 1.4 (Build 41)."},
        {served({{"currentVersion", "1.4.0.1"}, {"releaseDate", "soon"}}), "Update available: Tessaril 1.4.0.1."},
        {served({{"currentVersion", "1.4"}}), upToDate},
        {served({{"currentVersion", "1.3.9"}, {"currentBuild", 99}}), upToDate},
        {served({{"currentVersion", "1.2.3.4.5"}}), failed},
        {served({{"currentVersion", "v1.5"}}), failed},
        {served({{"currentVersion", "1.5-beta"}}), failed},
        {served({{"currentVersion", "1234567890"}}), failed},
        {served({{"currentVersion", "1.5"}, {"currentBuild", -1}}), failed},
        {served({{"currentVersion", "1.5"}, {"currentBuild", "41"}}), failed},
        {served({{"currentVersion", "1.5"}}, "tessaril"), failed},
        {{200, "", {}}, failed},
        {served({{"currentVersion", "1.5"}}, "Tessaril", 404), failed},
        {ScriptedHttpsClient::redirect("https://elsewhere.example/tessaril/releases/desktop.json", 302), failed},
    };
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
    const std::string origin = "https://updates.orvellelabs.com";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"download/1.5", origin + "/tessaril/releases/download/1.5"},
        {"/notes?v=1.5#top", origin + "/notes?v=1.5#top"},
        {"//updates.orvellelabs.com/get", origin + "/get"},
        {origin + ":443/get", origin + ":443/get"},
        {origin + ":8443/get", std::nullopt},
        {"http://updates.orvellelabs.com/get", std::nullopt},
        {"https://elsewhere.example/get", std::nullopt},
        {"https://user@updates.orvellelabs.com/get", std::nullopt},
        {"//elsewhere.example/get", std::nullopt},
    };
    for (const auto& [link, expected] : cases)
        EXPECT_EQ(DesktopUpdateChecker::trusted(link), expected) << link;
}

}  // namespace
}  // namespace tessaril
