// SPDX-License-Identifier: GPL-3.0-or-later
// Rule updates end to end over real TLS, through the tool. The body limits are CurlHttpsClientTests';
// which redirects the update session follows is RuleUpdateManifestTests', and which downloaded files
// fail their checks RulesUpdaterTests'.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/http/CurlHttpsClient.h"
#include "tests/cli/ToolTest.h"
#include "tests/support/LoopbackTlsServer.h"
#include "tests/support/SigningKeyPair.h"

namespace tessaril {

namespace {

namespace fs = std::filesystem;
using testing::Invocation;

// The static update origin as the publishing tool writes it, served from a folder of this test.
class RuleUpdatesOverHttpsTest : public testing::ToolTest {
protected:
    void SetUp() override {
        ToolTest::SetUp();
        // The shipped rules plus one provider that removes "e2e_tracker", as release 2099.1.1.
        const fs::path shipped = TESSARIL_SHIPPED_BUNDLE_DIR;
        fs::create_directories(release_);
        for (const char* name : {"data.min.json", "command-guard-rules.json"})
            fs::copy_file(shipped / name, release_ / name);
        auto supplementary = nlohmann::json::parse(testing::readFile(shipped / "tessaril-supplementary.json"));
        supplementary["providers"]["e2e"] = {{"urlPattern", "^https?://"}, {"rules", {"e2e_tracker"}}};
        writeFile("release/tessaril-supplementary.json", supplementary.dump());
        const std::string publish = std::string(TESSARIL_PUBLISHER_PATH) + " publish " + release_.string() + " " +
                                    TESSARIL_SOURCE_DIR + "/resources/shipped-manifest.json 2099.1.1 stable " +
                                    origin_.string() + " " + writeFile("signing.pem", key_.privateKeyPem()).string();
        ASSERT_EQ(std::system(publish.c_str()), 0);
    }

    Invocation invoke(const std::vector<std::string>& arguments) {
        return ToolTest::invoke(arguments, {}, &client_, key_.publicKey());
    }

    // The paths the origin was asked for since the last call.
    std::vector<std::string> takeRequests() {
        std::vector<std::string> paths;
        for (const auto& request : server_.takeRequests())
            paths.push_back(request.path);
        return paths;
    }

    const fs::path release_ = root_ / "release";
    const fs::path origin_ = root_ / "origin";
    const fs::path manifest_ = origin_ / "tessaril/rules/manifest.json";
    const testing::SigningKeyPair key_;
    testing::LoopbackTlsServer server_{[this](const httplib::Request& request, httplib::Response& response) {
        const fs::path file = origin_ / request.path.substr(1);
        if (request.path.find("..") != std::string::npos || !fs::is_regular_file(file)) {
            response.status = 404;
            return;
        }
        response.set_content(testing::readFile(file), "application/json");
    }};
    CurlHttpsClient client_{server_.network()};
};

TEST_F(RuleUpdatesOverHttpsTest, ToolFindsInstallsAndUsesAPublishedRelease) {
    const std::string tracked = "https://example.com/?e2e_tracker=1&a=b";
    const auto check = Invocation{1, "Rules update available: 2099.1.1\n", ""};
    writeFile("origin/tessaril/releases/desktop.json",
              R"({"product": "Tessaril", "desktop": {"currentVersion": "99.0"}})");
    const std::pair<std::vector<std::string>, Invocation> steps[] = {
        {{"clean", tracked}, {0, tracked + "\n", ""}},
        {{"rules", "check"}, check},
        {{"rules", "channel"}, {0, "stable\n", ""}},
        {{"rules", "channel", "beta"}, {0, "", ""}},
        {{"rules", "check"}, {3, "", "tessaril: Could not check for rule updates: HTTP 404\n"}},
        {{"rules", "check", "--channel", "stable"}, check},
        {{"rules", "channel", "stable"}, {0, "", ""}},
        {{"app-update", "check"}, {1, "Update available: Tessaril 99.0.\n", ""}},
    };
    for (const auto& [arguments, expected] : steps)
        EXPECT_EQ(invoke(arguments), expected) << arguments.back();

    const Invocation update = invoke({"rules", "update"});
    EXPECT_EQ(update.status, 0) << update.err;
    EXPECT_TRUE(update.out.starts_with("Installed rules 2099.1.1 at ")) << update.out;
    EXPECT_EQ(invoke({"rules", "check"}), (Invocation{0, "Rules are up to date: 2099.1.1\n", ""}));
    EXPECT_EQ(invoke({"clean", tracked}).out, "https://example.com/?a=b\n");
    // Without --rules the tool starts from the rules the tray application would, and says which.
    const auto status = lines(invoke({"rules", "status"}).out);
    ASSERT_GE(status.size(), 2U);
    EXPECT_EQ(status[0], "rules in use: active bundle");
    EXPECT_EQ(status[1], "rules version: 2099.1.1");
}

// A manifest whose signature is missing, by another key, or for other bytes is refused before any
// rule file is asked for; the tool keeps its rules.
TEST_F(RuleUpdatesOverHttpsTest, AnUpdateWithoutTheRightSignatureFetchesNoRuleFile) {
    const fs::path signatureFile = manifest_.string() + ".sig";
    const std::string manifest = testing::readFile(manifest_);
    const std::string signature = testing::readFile(signatureFile);
    std::string changed = manifest;
    changed[changed.find("2099.1.1")] = '3';
    const std::pair<std::string, std::function<void()>> spoilers[] = {
        {"missing", [&] { fs::remove(signatureFile); }},
        {"by another key", [&] { testing::writeFile(signatureFile, testing::SigningKeyPair("other").sign(manifest)); }},
        {"for the manifest before a change", [&] { testing::writeFile(manifest_, changed); }},
    };
    for (const auto& [name, spoil] : spoilers) {
        spoil();
        takeRequests();
        EXPECT_EQ(invoke({"rules", "update"}),
                  (Invocation{3, "", "tessaril: Downloaded rules failed integrity check: manifest.json.sig.\n"}))
            << name;
        EXPECT_EQ(takeRequests(),
                  (std::vector<std::string>{"/tessaril/rules/manifest.json", "/tessaril/rules/manifest.json.sig"}))
            << name;
        EXPECT_EQ(lines(invoke({"rules", "status"}).out)[0], "rules in use: shipped rules") << name;
        testing::writeFile(manifest_, manifest);
        testing::writeFile(signatureFile, signature);
    }
    EXPECT_EQ(invoke({"rules", "check"}), (Invocation{1, "Rules update available: 2099.1.1\n", ""}));
}

}  // namespace
}  // namespace tessaril
