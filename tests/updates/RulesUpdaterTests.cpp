// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/Paths.h"
#include "core/foundation/ResourceBundle.h"
#include "core/updates/RulesUpdater.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Source = RulesUpdater::RulesSource;
using testing::writeFile;

// A rule file with one provider, named `name`, that removes the parameter `name` everywhere.
std::string rulesNamed(const std::string& name) {
    return json{{"providers", {{name, {{"urlPattern", "^https?://"}, {"rules", {name}}}}}}}.dump();
}

json manifestFor(const std::string& version) {
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

// A user's machine: its data folder, the shipped resources (version "shipped-1") and the
// preferences, with an engine and updater made on demand.
class Machine {
public:
    Machine() : paths_(folder_.path()), resources_(folder_.path() / "resources") {
        writeFile(resources_.directory() / "data.min.json", rulesNamed("shipped"));
        writeFile(resources_.directory() / "tessaril-supplementary.json", rulesNamed("shipped_supplement"));
        writeFile(resources_.directory() / "manifest.json", manifestFor("shipped-1").dump());
    }

    [[nodiscard]] fs::path data() const { return paths_.applicationSupportDirectory(); }
    [[nodiscard]] fs::path rules() const { return data() / "com.orvellelabs.tessaril" / "rules"; }
    [[nodiscard]] fs::path shippedRules() const { return resources_.directory() / "data.min.json"; }
    [[nodiscard]] UserDefaults& defaults() { return defaults_; }

    void writeBundle(const std::string& name, const std::string& version) {
        writeFile(rules() / name / "manifest.json", manifestFor(version).dump());
        writeFile(rules() / name / "data.min.json", rulesNamed(name));
        writeFile(rules() / name / "tessaril-supplementary.json", rulesNamed(name + "_supplement"));
    }

    // Starts up: the names of the providers the engine then has, and what the updater says.
    struct StartUp {
        std::vector<std::string> providers;
        Source source;
        std::optional<std::string> version;
        std::vector<std::string> diagnostics;
    };
    StartUp startUp() {
        StartUp result;
        const auto sink = [&result](std::string_view line) { result.diagnostics.emplace_back(line); };
        RulesEngine engine(defaults_, RulesEngineEnvironment{&resources_, &paths_, sink});
        RulesUpdater updater(engine, defaults_, RulesUpdater::Environment{&paths_, &resources_, std::nullopt, sink});
        updater.loadPreferringAppSupport();
        for (const auto& provider : engine.compiledProviders())
            result.providers.push_back(provider.name);
        result.source = updater.loadedSource();
        result.version = updater.installedVersion();
        return result;
    }

private:
    testing::TemporaryDirectory folder_;
    FixedPaths paths_;
    ResourceBundle resources_;
    InMemoryUserDefaults defaults_;
};

void edit(const fs::path& file, const std::function<void(std::string&)>& change) {
    std::string text = testing::readFile(file);
    change(text);
    writeFile(file, text);
}

void editManifest(const fs::path& file, const std::function<void(json&)>& change) {
    json manifest = json::parse(testing::readFile(file));
    change(manifest);
    writeFile(file, manifest.dump());
}

TEST(RulesUpdaterTest, StartUpLoadsTheFirstWholeCandidate) {
    using Strings = std::vector<std::string>;
    const Strings active = {"active", "active_supplement"};
    const Strings previous = {"previous", "previous_supplement"};
    const Strings shipped = {"shipped", "shipped_supplement"};
    const Strings saved = {"saved", "shipped_supplement"};
    struct Case {
        std::string name;
        std::function<void(Machine&)> setUp;
        Strings providers;
        Source source;
        std::optional<std::string> version;
    };
    const auto bundles = [](Machine& machine) {
        machine.writeBundle("active", "2");
        machine.writeBundle("previous", "1");
    };
    // Each spoils the active bundle in one way; start-up then takes the previous one.
    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> spoilers = {
        {"another product",
         [](const fs::path& b) { editManifest(b / "manifest.json", [](json& m) { m["product"] = "Other"; }); }},
        {"another kind",
         [](const fs::path& b) { editManifest(b / "manifest.json", [](json& m) { m["kind"] = "fonts"; }); }},
        {"schema 2",
         [](const fs::path& b) { editManifest(b / "manifest.json", [](json& m) { m["schemaVersion"] = 2; }); }},
        {"duplicate kinds",
         [](const fs::path& b) {
             editManifest(b / "manifest.json", [](json& m) { m["files"].push_back(m["files"][0]); });
         }},
        {"bad size",
         [](const fs::path& b) { editManifest(b / "manifest.json", [](json& m) { m["files"][0]["bytes"] = 0; }); }},
        {"bad digest",
         [](const fs::path& b) { editManifest(b / "manifest.json", [](json& m) { m["files"][0]["sha256"] = "0"; }); }},
        {"bad path",
         [](const fs::path& b) { editManifest(b / "manifest.json", [](json& m) { m["files"][1]["path"] = "../s"; }); }},
        {"manifest too big",
         [](const fs::path& b) {
             editManifest(b / "manifest.json", [](json& m) { m["notes"] = {std::string(128 * 1024, 'n')}; });
         }},
        {"manifest not JSON", [](const fs::path& b) { writeFile(b / "manifest.json", "<html>"); }},
        {"no manifest", [](const fs::path& b) { fs::remove(b / "manifest.json"); }},
        {"no supplementary file", [](const fs::path& b) { fs::remove(b / "tessaril-supplementary.json"); }},
        {"truncated rules",
         [](const fs::path& b) { edit(b / "data.min.json", [](std::string& t) { t.resize(t.size() / 2); }); }},
        {"rules that fail the smoke checks",
         [](const fs::path& b) { writeFile(b / "data.min.json", rulesNamed("id")); }},
    };
    std::vector<Case> cases = {
        {"nothing installed", [](Machine&) {}, shipped, Source::shipped, "shipped-1"},
        {"both bundles", bundles, active, Source::activeBundle, "2"},
        {"only previous", [](Machine& m) { m.writeBundle("previous", "1"); }, previous, Source::previousBundle, "1"},
        {"a changed byte that still loads is not checked against the digest",
         [&](Machine& m) {
             bundles(m);
             edit(m.rules() / "active/data.min.json", [](std::string& t) { t.insert(0, " "); });
         },
         active, Source::activeBundle, "2"},
        {"both bundles spoilt",
         [&](Machine& m) {
             bundles(m);
             spoilers[0].second(m.rules() / "active");
             spoilers[10].second(m.rules() / "previous");
         },
         shipped, Source::shipped, "shipped-1"},
    };
    for (const auto& [name, spoil] : spoilers) {
        cases.push_back({"active: " + name,
                         [&, spoil = spoil](Machine& m) {
                             bundles(m);
                             spoil(m.rules() / "active");
                         },
                         previous, Source::previousBundle, "1"});
    }
    // The saved file of earlier versions counts only when it is newer than the shipped rules.
    const auto savedFile = [](Machine& m, std::string contents, std::chrono::seconds age) {
        const fs::path file = writeFile(m.data() / "com.orvellelabs.tessaril" / "data.min.json", contents);
        fs::last_write_time(file, fs::last_write_time(m.shippedRules()) - age);
    };
    cases.push_back({"older saved file",
                     [&](Machine& m) { savedFile(m, rulesNamed("saved"), std::chrono::seconds(60)); }, shipped,
                     Source::shipped, "shipped-1"});
    cases.push_back({"saved file as old as the shipped one",
                     [&](Machine& m) { savedFile(m, rulesNamed("saved"), std::chrono::seconds(0)); }, shipped,
                     Source::shipped, "shipped-1"});
    cases.push_back({"newer saved file",
                     [&](Machine& m) { savedFile(m, rulesNamed("saved"), std::chrono::seconds(-60)); }, saved,
                     Source::legacyFile, "shipped-1"});
    cases.push_back({"newer saved file keeps the stored version",
                     [&](Machine& m) {
                         m.defaults().set(RulesUpdater::installedVersionKey, std::string("stored-7"));
                         savedFile(m, rulesNamed("saved"), std::chrono::seconds(-60));
                     },
                     saved, Source::legacyFile, "stored-7"});
    cases.push_back({"newer saved file that is no rule file",
                     [&](Machine& m) { savedFile(m, "{}", std::chrono::seconds(-60)); }, shipped, Source::shipped,
                     "shipped-1"});

    for (const auto& [name, setUp, providers, source, version] : cases) {
        Machine machine;
        setUp(machine);
        const auto started = machine.startUp();
        EXPECT_EQ(started.providers, providers) << name;
        EXPECT_EQ(started.source, source) << name;
        EXPECT_EQ(started.version, version) << name;
    }
}

TEST(RulesUpdaterTest, TheSavedFileMovesOnceFromThePreRenameFolder) {
    Machine machine;
    const fs::path oldFile = machine.data() / "com.quenby.tessaril" / "data.min.json";
    const fs::path newFile = machine.data() / "com.orvellelabs.tessaril" / "data.min.json";
    writeFile(oldFile, rulesNamed("saved"));
    fs::last_write_time(oldFile, fs::last_write_time(machine.shippedRules()) + std::chrono::minutes(1));
    EXPECT_EQ(machine.startUp().providers, (std::vector<std::string>{"saved", "shipped_supplement"}));
    EXPECT_EQ(testing::readFile(newFile), rulesNamed("saved"));
    EXPECT_TRUE(fs::exists(oldFile));

    // Once the current folder has its file, a newer one in the old folder is left alone.
    writeFile(oldFile, rulesNamed("newer"));
    machine.startUp();
    EXPECT_EQ(testing::readFile(newFile), rulesNamed("saved"));

    // A copy that cannot be made is said, and start-up goes on.
    Machine blocked;
    writeFile(blocked.data() / "com.quenby.tessaril" / "data.min.json", rulesNamed("saved"));
    writeFile(blocked.data() / "com.orvellelabs.tessaril", "a file where the folder should be");
    const auto started = blocked.startUp();
    EXPECT_EQ(started.source, Source::shipped);
    ASSERT_EQ(started.diagnostics.size(), 1U);
    EXPECT_TRUE(started.diagnostics[0].starts_with("RulesUpdater: legacy rules migration skipped \u2014 "))
        << started.diagnostics[0];
}

}  // namespace
}  // namespace tessaril
