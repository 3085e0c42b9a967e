// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/ScriptedHttpsClient.h"
#include "core/updates/RuleUpdateChannel.h"
#include "core/updates/RuleUpdateError.h"
#include "core/updates/RuleUpdateManifest.h"
#include "core/updates/StaticUpdateSession.h"
#include "tests/support/CaseTable.h"
#include "tests/support/RuleReleases.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace tessaril {
namespace {

using json = nlohmann::json;
const std::string kOrigin = "https://updates.orvellelabs.com";

// The message validate() gives, "" when the manifest is valid, "undecodable" when it does not decode.
std::string validationOf(const json& document) {
    const auto manifest = RuleUpdateManifest::decode(document.dump());
    if (!manifest) return "undecodable";
    try {
        manifest->validate(1);
    } catch (const RuleUpdateError& error) {
        EXPECT_EQ(error.kind(), RuleUpdateError::Kind::invalidManifest);
        EXPECT_EQ(error.errorDescription(), "Invalid rules manifest: " + error.detail());
        return error.detail();
    }
    return "";
}

// The valid manifest with each edit made: the value put at the JSON pointer ("/files/-" appends),
// or what is there removed when the value is null.
json edited(const json& edits) {
    json manifest = testing::manifestFor("2026.12.07");
    for (const auto& edit : edits) {
        const auto& value = edit[1];
        const json::json_pointer pointer(edit[0].get<std::string>());
        if (!value.is_null()) {
            manifest[pointer] = value;
        } else if (json& parent = manifest[pointer.parent_pointer()]; parent.is_array()) {
            parent.erase(std::stoul(pointer.back()));
        } else {
            parent.erase(pointer.back());
        }
    }
    return manifest;
}

TEST(RuleUpdateManifestTest, ValidationStopsAtTheFirstFailingCheckInOrder) {
    const auto cases = testing::readCases("updates/manifest-validation.json");
    ASSERT_GT(cases.size(), 40U);
    for (const auto& row : cases) {
        const json manifest = edited(row[1]);
        EXPECT_EQ(validationOf(manifest), row[0]) << manifest.dump();
    }
    EXPECT_FALSE(RuleUpdateManifest::decode("{\"product\": "));
}

TEST(RuleUpdateManifestTest, EncodingIsSortedLeavesOutAbsentValuesAndDecodesToTheSameRecord) {
    const json valid = testing::manifestFor("2026.12.07");
    json full = valid;
    full["publishedAt"] = "2026-12-07T10:30:00+01:00";
    full["minAppVersion"] = "1.2";
    full["notes"] = {"Fewer false alarms", "\u00e9t\u00e9"};
    full["files"].push_back({{"kind", "command-guard"},
                             {"path", "command-guard-rules.json"},
                             {"url", testing::kRulesBase + "command-guard-rules.json"},
                             {"sha256", std::string(64, 'a')},
                             {"bytes", 100}});
    full["sourceSummary"] = {{"clearurls", {{"upstreamCommit", "abc"}, {"reviewedAt", "2025-07-29T00:00:00Z"}}},
                             {"tessarilSupplementary", json::object()}};
    for (const json& document : {valid, full}) {
        const auto manifest = RuleUpdateManifest::decode(document.dump());
        ASSERT_TRUE(manifest);
        const std::string encoded = manifest->encode();
        EXPECT_EQ(RuleUpdateManifest::decode(encoded), manifest);
        EXPECT_EQ(encoded.find("null"), std::string::npos);
        EXPECT_LT(encoded.find("\"currentVersion\""), encoded.find("\"files\""));
        EXPECT_NE(encoded.find("\n  \"kind\": \"rules\""), std::string::npos);
    }
    const auto manifest = RuleUpdateManifest::decode(full.dump());
    EXPECT_NE(manifest->encode().find("\"publishedAt\": \"2026-12-07T09:30:00Z\""), std::string::npos);
    EXPECT_EQ(manifest->commandGuardFile()->path, "command-guard-rules.json");
    EXPECT_EQ(manifest->encode().find("\"source\""), std::string::npos);
}

// The stable channel's address is the one the updater's tests publish on; the beta one only here.
TEST(RuleUpdateManifestTest, EachChannelHasItsManifestOnTheOrigin) {
    EXPECT_EQ(manifestURL(RuleUpdateChannel::beta), kOrigin + "/tessaril/rules/beta/manifest.json");
    for (auto channel : kAllRuleUpdateChannels)
        EXPECT_TRUE(StaticUpdateSession::allowed(manifestURL(channel)));
}

// A redirect within the update folder of the origin is followed; one that leaves it ends the fetch.
TEST(RuleUpdateManifestTest, TheUpdateSessionFollowsRedirectsOnlyWithinTheOrigin) {
    const std::string folder = kOrigin + "/tessaril/";
    ScriptedHttpsClient web;
    web.answer(folder + "moved", ScriptedHttpsClient::redirect(folder + "file"));
    web.answer(folder + "file", {200, "x", std::nullopt});
    web.answer(folder + "away", ScriptedHttpsClient::redirect("https://elsewhere.example/tessaril/file", 302));
    web.answer(folder + "outside", ScriptedHttpsClient::redirect(kOrigin + "/other/file", 302));
    const StaticUpdateSession session(web);
    const auto fetch = [&](const std::string& name) {
        return session.boundedData(StaticUpdateSession::request(folder + name), 1);
    };
    EXPECT_EQ(fetch("moved"), HttpsResult(HttpsResponse{folder + "file", 200, "x", 1}));
    EXPECT_EQ(fetch("away"), HttpsResult(HttpsResponse{folder + "away", 302, "", 0}));
    EXPECT_EQ(fetch("outside"), HttpsResult(HttpsResponse{folder + "outside", 302, "", 0}));
}

}  // namespace
}  // namespace tessaril
