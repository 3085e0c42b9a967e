// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Rule releases as the update origin publishes them, for the suites that update rules.

#include "core/foundation/ScriptedHttpsClient.h"
#include "core/foundation/Sha256.h"
#include "tests/support/SigningKeyPair.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessaril::testing {

using json = nlohmann::json;
// Each file's kind, then its content.
using Files = std::vector<std::pair<std::string, std::string>>;

// A rule file with one provider, named `name`, that removes the parameter `name` everywhere.
inline std::string rulesNamed(const std::string& name) {
    return json{{"providers", {{name, {{"urlPattern", "^https?://"}, {"rules", {name}}}}}}}.dump();
}

inline json manifestFor(const std::string& version) {
    const std::string digest(64, '0');
    const auto file = [&](const char* kind, const char* path) {
        return json{{"kind", kind},
                    {"path", path},
                    {"url", std::string("https://updates.orvellelabs.com/tessaril/rules/") + path},
                    {"sha256", digest}};
    };
    return {{"product", "Tessaril"},
            {"kind", "rules"},
            {"schemaVersion", 1},
            {"currentVersion", version},
            {"publishedAt", "2026-12-07T09:30:00Z"},
            {"files", {file("clearurls", "data.min.json"), file("tessaril-supplementary", "s.json")}},
            {"notes", json::array()}};
}

inline const std::string kRulesBase = "https://updates.orvellelabs.com/tessaril/rules/";

// A release on the origin: the manifest of `files` (kind, then content), each at kRulesBase + version + "/" + kind.
inline json releaseManifest(const std::string& version, const Files& files) {
    json manifest = manifestFor(version);
    manifest["files"] = json::array();
    for (const auto& [kind, content] : files) {
        manifest["files"].push_back({{"kind", kind},
                                     {"path", kind + ".json"},
                                     {"url", kRulesBase + version + "/" + kind},
                                     {"sha256", sha256Hex(content)},
                                     {"bytes", content.size()}});
    }
    return manifest;
}

inline Files releaseFiles(const std::string& name, std::optional<std::string> commandGuard = std::nullopt) {
    Files files = {{"clearurls", rulesNamed(name)}, {"tessaril-supplementary", rulesNamed(name + "_supplement")}};
    if (commandGuard) files.emplace_back("command-guard", *commandGuard);
    return files;
}

// Puts the release of `files` on the stable channel of `web`, its manifest signed with `key`.
inline void publishRelease(ScriptedHttpsClient& web, const std::string& version, const Files& files,
                           const SigningKeyPair& key) {
    const std::string manifest = releaseManifest(version, files).dump();
    web.answer(kRulesBase + "manifest.json", {200, manifest, {}});
    web.answer(kRulesBase + "manifest.json.sig", {200, key.sign(manifest), {}});
    for (const auto& [kind, content] : files)
        web.answer(kRulesBase + version + "/" + kind, {200, content, {}});
}

}  // namespace tessaril::testing
