// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Dates.h"
#include "core/foundation/Sha256.h"
#include "core/updates/RuleUpdateChannel.h"
#include "core/updates/RuleUpdateError.h"
#include "core/updates/RuleUpdateManifest.h"
#include "core/updates/RulesUpdateStatus.h"
#include "core/updates/StaticUpdateSession.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

namespace tessaril {
namespace {

using json = nlohmann::json;
const std::string kOrigin = "https://updates.orvellelabs.com";
const std::string kDigest(64, 'a');

json file(std::string kind, std::string path) {
    return {{"kind", std::move(kind)},
            {"path", path},
            {"url", kOrigin + "/tessaril/rules/" + path},
            {"sha256", kDigest},
            {"bytes", 100}};
}

json validManifest() {
    return {{"product", "Tessaril"},
            {"kind", "rules"},
            {"schemaVersion", 1},
            {"currentVersion", "2026.12.07"},
            {"publishedAt", "2026-12-07T09:30:00Z"},
            {"files", {file("clearurls", "data.min.json"), file("tessaril-supplementary", "supp.json")}},
            {"notes", json::array()}};
}

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

TEST(RuleUpdateManifestTest, ValidationStopsAtTheFirstFailingCheckInOrder) {
    const std::string origin = "Rule files must use the static Orvelle rules origin";
    struct Case {
        std::string expected;
        std::function<void(json&)> change;
    };
    const std::vector<Case> cases = {
        {"", [](json&) {}},
        {"",
         [](json& m) {
             m.erase("files"), m["files"] = {file("tessaril-supplementary", "s"), file("clearurls", "c")};
         }},
        {"",
         [](json& m) {
             m["unknownKey"] = {1, 2};
         }},
        {"", [](json& m) { m["files"][0]["url"] = kOrigin + ":443/tessaril/rules/a"; }},
        {"", [](json& m) { m["files"][0]["bytes"] = 8388608; }},
        {"", [](json& m) { m["files"][0].erase("bytes"); }},
        {"", [](json& m) { m["files"][0]["sha256"] = std::string(64, 'F'); }},
        {"", [](json& m) { m["minAppVersion"] = "99"; }},
        {"Unexpected product", [](json& m) { m["product"] = "tessaril"; }},
        {"Unexpected manifest kind", [](json& m) { m["kind"] = "rule"; }},
        {"Unsupported rules schema", [](json& m) { m["schemaVersion"] = 2; }},
        {"Unsupported rules schema", [](json& m) { m["schemaVersion"] = 0; }},
        {"Missing rules version", [](json& m) { m["currentVersion"] = "  \n "; }},
        {"Missing ClearURLs rule file", [](json& m) { m["files"].erase(0); }},
        {"Missing Tessaril supplementary rule file", [](json& m) { m["files"].erase(1); }},
        {"Duplicate file kinds", [](json& m) { m["files"].push_back(file("clearurls", "again.json")); }},
        {origin, [](json& m) { m["files"][1]["url"] = kOrigin + ":8443/tessaril/rules/a"; }},
        {origin, [](json& m) { m["files"][1]["url"] = kOrigin + "/tessaril/rules/a?v=1"; }},
        {origin, [](json& m) { m["files"][1]["url"] = kOrigin + "/tessaril/rules/a#x"; }},
        {origin, [](json& m) { m["files"][1]["url"] = kOrigin + "/tessaril/releases/a"; }},
        {origin, [](json& m) { m["files"][1]["url"] = "http://updates.orvellelabs.com/tessaril/rules/a"; }},
        {origin, [](json& m) { m["files"][1]["url"] = "HTTPS://updates.orvellelabs.com/tessaril/rules/a"; }},
        {origin, [](json& m) { m["files"][1]["url"] = "https://user@updates.orvellelabs.com/tessaril/rules/a"; }},
        {origin,
         [](json& m) { m["files"][1]["url"] = "https://updates.orvellelabs.com.evil.example/tessaril/rules/a"; }},
        {"Invalid rule file size", [](json& m) { m["files"][1]["bytes"] = 0; }},
        {"Invalid rule file size", [](json& m) { m["files"][1]["bytes"] = 8388609; }},
        {"Invalid SHA-256 for supp.json", [](json& m) { m["files"][1]["sha256"] = std::string(63, 'a'); }},
        {"Invalid SHA-256 for supp.json", [](json& m) { m["files"][1]["sha256"] = std::string(63, 'a') + "g"; }},
        {"Invalid rule file path", [](json& m) { m["files"][1]["path"] = "rules/supp.json"; }},
        {"Invalid rule file path", [](json& m) { m["files"][1]["path"] = "..supp.json"; }},
        // The first failing entry decides, and within it the origin comes before the digest.
        {origin, [](json& m) { m["files"][0]["url"] = "https://example.com/", m["files"][0]["sha256"] = "x"; }},
        {"Invalid SHA-256 for data.min.json",
         [](json& m) { m["files"][0]["sha256"] = "x", m["files"][1]["bytes"] = 0; }},
        // Decoding is strict about what it needs and the dates' form.
        {"undecodable", [](json& m) { m["publishedAt"] = "2025-03-01T09:30:00.123Z"; }},
        {"undecodable", [](json& m) { m["publishedAt"] = "2025-03-01"; }},
        {"undecodable",
         [](json& m) {
             m["sourceSummary"] = {{"clearurls", {{"reviewedAt", "yesterday"}}}};
         }},
        {"undecodable", [](json& m) { m["files"].push_back(file("fonts", "f.json")); }},
        {"undecodable", [](json& m) { m.erase("notes"); }},
        {"undecodable",
         [](json& m) {
             m["notes"] = {"ok", 2};
         }},
        {"undecodable", [](json& m) { m["schemaVersion"] = "1"; }},
        {"undecodable", [](json& m) { m["files"][0]["bytes"] = 1.5; }},
        {"undecodable", [](json& m) { m["files"][0]["url"] = "/tessaril/rules/data.min.json"; }},
        {"undecodable", [](json& m) { m = json::array(); }},
    };
    for (const auto& [expected, change] : cases) {
        json manifest = validManifest();
        change(manifest);
        EXPECT_EQ(validationOf(manifest), expected) << manifest.dump();
    }
    EXPECT_FALSE(RuleUpdateManifest::decode("{\"product\": "));
}

TEST(RuleUpdateManifestTest, EncodingIsSortedLeavesOutAbsentValuesAndDecodesToTheSameRecord) {
    json full = validManifest();
    full["publishedAt"] = "2026-12-07T10:30:00+01:00";
    full["minAppVersion"] = "1.2";
    full["notes"] = {"Fewer false alarms", "\u00e9t\u00e9"};
    full["files"].push_back(file("command-guard", "command-guard-rules.json"));
    full["sourceSummary"] = {{"clearurls", {{"upstreamCommit", "abc"}, {"reviewedAt", "2025-07-29T00:00:00Z"}}},
                             {"tessarilSupplementary", json::object()}};
    for (const json& document : {validManifest(), full}) {
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

TEST(RuleUpdateManifestTest, UserFacingTexts) {
    using Kind = RuleUpdateError::Kind;
    const std::vector<std::pair<RuleUpdateError, std::string>> errors = {
        {{Kind::invalidManifest, "m"}, "Invalid rules manifest: m"},
        {{Kind::incompatibleAppVersion, "2.1"}, "Rules require Tessaril 2.1 or newer."},
        {{Kind::network, "HTTP 500 for a"}, "Download failed: HTTP 500 for a"},
        {{Kind::missingFile, "data.min.json"}, "Rules bundle missing data.min.json."},
        {{Kind::hashMismatch, "a"}, "Downloaded rules failed integrity check: a."},
        {{Kind::invalidRules, "r"}, "Downloaded rules were invalid: r"},
        {{Kind::fileSystem, "f"}, "Could not save rules: f"},
    };
    for (const auto& [error, text] : errors)
        EXPECT_EQ(error.what(), text);

    const auto manifest = RuleUpdateManifest::decode(validManifest().dump());
    const std::vector<std::tuple<RulesUpdateStatus, std::optional<std::string>, bool>> statuses = {
        {RulesUpdateStatus::Idle{}, std::nullopt, false},
        {RulesUpdateStatus::CheckingManifest{}, "Checking\u2026", true},
        {RulesUpdateStatus::Downloading{}, "Downloading\u2026", true},
        {RulesUpdateStatus::Validating{}, "Validating\u2026", true},
        {RulesUpdateStatus::Installing{}, "Installing\u2026", true},
        {RulesUpdateStatus::UpdateAvailable{*manifest}, "Rules update available: 2026.12.07", false},
        {RulesUpdateStatus::UpToDate{"2024.10.2"}, "Rules are up to date: 2024.10.2", false},
        {RulesUpdateStatus::Failed{"Download failed: x"}, "Download failed: x", false},
    };
    for (const auto& [status, text, busy] : statuses) {
        EXPECT_EQ(status.displayText(), text);
        EXPECT_EQ(status.isBusy(), busy);
    }
    const RulesUpdateStatus installed =
        RulesUpdateStatus::Installed{"1.2", *parseInternetDateTime("2026-12-07T09:30:00Z")};
    EXPECT_TRUE(installed.displayText()->starts_with("Installed rules 1.2 at "));
    EXPECT_FALSE(installed.isBusy());

    EXPECT_EQ(manifestURL(RuleUpdateChannel::stable), kOrigin + "/tessaril/rules/manifest.json");
    EXPECT_EQ(manifestURL(RuleUpdateChannel::beta), kOrigin + "/tessaril/rules/beta/manifest.json");
    for (auto channel : kAllRuleUpdateChannels) {
        EXPECT_TRUE(StaticUpdateSession::allowed(manifestURL(channel)));
        EXPECT_EQ(ruleUpdateChannel(rawValue(channel)), channel);
    }
    EXPECT_EQ(displayName(RuleUpdateChannel::beta), "Beta");
}

TEST(RuleUpdateManifestTest, Sha256HexOfKnownInputs) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(std::string("\0\xff", 2)), "06eb7d6a69ee19e5fbdf749018d3d2abfa04bcbd1365db312eb86dc7169389b8");
}

}  // namespace
}  // namespace tessaril
