// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/ManualTaskExecutor.h"
#include "core/foundation/Paths.h"
#include "core/foundation/ResourceBundle.h"
#include "core/foundation/ScriptedHttpsClient.h"
#include "core/guard/CommandGuard.h"
#include "core/preferences/ProactivePreferences.h"
#include "core/updates/RulesUpdater.h"
#include "core/updates/VersionComparison.h"
#include "tests/support/CaseTable.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RuleReleases.h"
#include "tests/support/SigningKeyPair.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Source = RulesUpdater::RulesSource;
using testing::Files;
using testing::kRulesBase;
using testing::manifestFor;
using testing::releaseFiles;
using testing::rulesNamed;
using testing::writeFile;

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
    [[nodiscard]] const Paths& paths() const { return paths_; }
    [[nodiscard]] const ResourceBundle& resources() const { return resources_; }

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
    // Each spoils the active bundle in one way; start-up then takes the previous one. The manifest
    // edits put a value at a JSON pointer: one that validation refuses (each of its checks is the
    // manifest's own test), and one past the size start-up reads.
    const std::pair<std::string, std::pair<std::string, json>> manifestEdits[] = {
        {"another product", {"/product", "Other"}},
        {"manifest too big", {"/notes", json::array({std::string(128 * 1024, 'n')})}},
    };
    std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> spoilers = {
        {"manifest not JSON", [](const fs::path& b) { writeFile(b / "manifest.json", "<html>"); }},
        {"no manifest", [](const fs::path& b) { fs::remove(b / "manifest.json"); }},
        {"no supplementary file", [](const fs::path& b) { fs::remove(b / "tessaril-supplementary.json"); }},
        {"truncated rules",
         [](const fs::path& b) { edit(b / "data.min.json", [](std::string& t) { t.resize(t.size() / 2); }); }},
        {"rules that fail the smoke checks",
         [](const fs::path& b) { writeFile(b / "data.min.json", rulesNamed("id")); }},
    };
    for (const auto& [name, at] : manifestEdits) {
        spoilers.emplace_back(name, [at = at](const fs::path& b) {
            json manifest = json::parse(testing::readFile(b / "manifest.json"));
            manifest[json::json_pointer(at.first)] = at.second;
            writeFile(b / "manifest.json", manifest.dump());
        });
    }
    // The saved file of earlier versions counts only when it is newer than the shipped rules: one of
    // `contents`, `age` seconds older than the shipped one, with a version stored or not.
    const auto savedFile = [](std::string contents, int age, std::string stored = "") {
        return [=](Machine& m) {
            if (!stored.empty()) m.defaults().set(RulesUpdater::installedVersionKey, stored);
            const fs::path file = writeFile(m.data() / "com.orvellelabs.tessaril" / "data.min.json", contents);
            fs::last_write_time(file, fs::last_write_time(m.shippedRules()) - std::chrono::seconds(age));
        };
    };
    const std::string savedRules = rulesNamed("saved");
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
             spoilers.back().second(m.rules() / "active");
             spoilers[2].second(m.rules() / "previous");
         },
         shipped, Source::shipped, "shipped-1"},
        {"older saved file", savedFile(savedRules, 60), shipped, Source::shipped, "shipped-1"},
        {"saved file as old as the shipped one", savedFile(savedRules, 0), shipped, Source::shipped, "shipped-1"},
        {"newer saved file", savedFile(savedRules, -60), saved, Source::legacyFile, "shipped-1"},
        {"newer saved file keeps the stored version", savedFile(savedRules, -60, "stored-7"), saved, Source::legacyFile,
         "stored-7"},
        {"newer saved file that is no rule file", savedFile("{}", -60), shipped, Source::shipped, "shipped-1"},
    };
    for (const auto& [name, spoil] : spoilers) {
        const auto setUp = [&, spoil = spoil](Machine& m) {
            bundles(m);
            spoil(m.rules() / "active");
        };
        cases.push_back({"active: " + name, setUp, previous, Source::previousBundle, "1"});
    }

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

ScriptedHttpsClient::Reply reply(int status, std::string body) {
    return {status, std::move(body), std::nullopt};
}

std::string commandGuardRules(const std::string& version) {
    return json{{"currentVersion", version}, {"rules", json::array()}}.dump();
}

// A machine that updates from an origin held in memory, with every transfer run when the test says.
class Updating {
public:
    // Starts up with the active bundle of version `installed`.
    explicit Updating(const std::string& installed = "2024.10.2", std::string appVersion = "1.0")
        : engine_(machine_.defaults(), RulesEngineEnvironment{&machine_.resources(), &machine_.paths(), {}}),
          session_(web_) {
        machine_.writeBundle("active", installed);
        updater_.emplace(engine_, machine_.defaults(),
                         RulesUpdater::Environment{.paths = &machine_.paths(),
                                                   .resources = &machine_.resources(),
                                                   .session = &session_,
                                                   .executor = &executor_,
                                                   .appVersion = std::move(appVersion),
                                                   .manifestKey = key_.publicKey(),
                                                   .installStep = [this](std::string_view step) {
                                                       if (onInstallStep_) onInstallStep_(step);
                                                   }});
        updater_->loadPreferringAppSupport();
    }

    // Puts the release of `files` on the stable channel, its manifest signed.
    void publish(const std::string& version, const Files& files) {
        testing::publishRelease(web_, version, files, key_);
    }

    // The status text once the transfers it started are through.
    std::string settle() {
        executor_.runBackgroundWork();
        executor_.runMainTasks();
        return updater_->updateStatus().displayText().value_or("");
    }
    std::string check() {
        updater_->checkForUpdates(false);
        return settle();
    }

    [[nodiscard]] std::vector<std::string> providers() const {
        std::vector<std::string> names;
        for (const auto& provider : engine_.compiledProviders())
            names.push_back(provider.name);
        return names;
    }

    Machine machine_;
    testing::SigningKeyPair key_;
    std::function<void(std::string_view)> onInstallStep_;
    ScriptedHttpsClient web_;
    ManualTaskExecutor executor_;
    RulesEngine engine_;
    StaticUpdateSession session_;
    std::optional<RulesUpdater> updater_;
};

TEST(RulesUpdaterTest, EveryManifestAnswerEndsInItsStatus) {
    const std::string manifestURL = kRulesBase + "manifest.json";
    const auto with = [](json manifest, const std::function<void(json&)>& change) {
        change(manifest);
        return manifest;
    };
    using Reply = ScriptedHttpsClient::Reply;
    struct Case {
        std::string name;
        std::optional<Reply> reply;
        std::string appVersion;
        std::string expected;
        // The signature served for a manifest `body`: by default the right one.
        std::function<Reply(const testing::SigningKeyPair&, const std::string& body)> signature =
            [](const testing::SigningKeyPair& key, const std::string& body) {
                return Reply{200, key.sign(body), {}};
            };
    };
    const json newer = manifestFor("2024.10.10");
    const std::string badSignature = "Downloaded rules failed integrity check: manifest.json.sig.";
    const Case cases[] = {
        {"no connection", std::nullopt, "1.0", "Could not check for rule updates: Could not connect to the server."},
        {"not modified", reply(304, ""), "1.0", "Could not check for rule updates: HTTP 304"},
        {"server error", reply(500, "oops"), "1.0", "Could not check for rule updates: HTTP 500"},
        {"empty", reply(200, ""), "1.0", "Could not check for rule updates: empty manifest"},
        {"too long", reply(200, std::string(128 * 1024 + 1, ' ')), "1.0",
         "Could not check for rule updates: The resource exceeds the maximum size."},
        {"not a manifest", reply(200, "<html>"), "1.0", "The rules manifest is not in the correct format."},
        {"another product", reply(200, with(newer, [](json& m) { m["product"] = "tessaril"; }).dump()), "1.0",
         "Invalid rules manifest: Unexpected product"},
        {"application too old", reply(200, with(newer, [](json& m) { m["minAppVersion"] = "2.1"; }).dump()), "2.0.9",
         "Rules require Tessaril 2.1 or newer."},
        {"application new enough", reply(200, with(newer, [](json& m) { m["minAppVersion"] = "2.1"; }).dump()), "2.1.0",
         "Rules update available: 2024.10.10"},
        {"older release", reply(200, manifestFor("2024.9.30").dump()), "1.0", "Rules are up to date: 2024.10.2"},
        {"same release", reply(200, manifestFor("2024.10.2").dump()), "1.0", "Rules are up to date: 2024.10.2"},
        // The signature is read within its own small limit, and must be exactly the signature.
        {"signature over the limit", reply(200, newer.dump()), "1.0", badSignature,
         [](const testing::SigningKeyPair&, const std::string&) { return reply(200, std::string(257, 's')); }},
        {"signature and a byte more", reply(200, newer.dump()), "1.0", badSignature,
         [](const testing::SigningKeyPair& key, const std::string& body) { return reply(200, key.sign(body) + "\n"); }},
    };
    for (const auto& [name, reply, appVersion, expected, signature] : cases) {
        Updating updating("2024.10.2", appVersion);
        if (reply) updating.web_.answer(manifestURL, *reply);
        if (reply) updating.web_.answer(manifestURL + ".sig", signature(updating.key_, reply->body));
        EXPECT_EQ(updating.check(), expected) << name;
        EXPECT_EQ(updating.updater_->availableManifest().has_value(), expected.starts_with("Rules update available"))
            << name;
    }
}

TEST(RulesUpdaterTest, VersionsOrder) {
    const auto cases = testing::readCases("updates/version-order.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const std::string a = row[0];
        const std::string b = row[1];
        const int dotted = row[2];
        const int localized = row[3];
        EXPECT_EQ(compareVersions(a, b), dotted) << a << " vs " << b;
        EXPECT_EQ(compareVersions(b, a), -dotted) << b << " vs " << a;
        EXPECT_EQ(localizedStandardCompare(a, b), localized) << a << " vs " << b;
        EXPECT_EQ(localizedStandardCompare(b, a), -localized) << b << " vs " << a;
    }
}

TEST(RulesUpdaterTest, AReleaseThatFailsAnyCheckChangesNothing) {
    const std::string fileBase = kRulesBase + "2024.10.10/";
    struct Case {
        std::string name;
        // The file whose answer changes after the release was published whole ("" for none), and
        // what the origin then serves for it.
        std::string spoilt;
        ScriptedHttpsClient::Reply served;
        std::string expected;
        Files files = releaseFiles("release", commandGuardRules("cg-2"));
    };
    const auto offOrigin = ScriptedHttpsClient::redirect("https://elsewhere.example/tessaril/rules/s.json", 302);
    const Case cases[] = {
        {"tampered file", "clearurls", reply(200, rulesNamed("releasf")),
         "Downloaded rules failed integrity check: clearurls.json."},
        {"wrong size", "clearurls", reply(200, rulesNamed("release") + " "),
         "Downloaded rules were invalid: Unexpected byte count for clearurls.json"},
        {"over the size limit", "clearurls", reply(200, std::string(8 * 1024 * 1024 + 1, ' ')),
         "Downloaded rules were invalid: Rule file exceeds size limit"},
        {"redirect off the origin", "tessaril-supplementary", offOrigin,
         "Download failed: HTTP 302 for tessaril-supplementary.json"},
        {"missing file", "command-guard", reply(404, ""), "Download failed: HTTP 404 for command-guard.json"},
        {"no connection", "clearurls", ScriptedHttpsClient::redirect(kRulesBase + "gone", 302),
         "Could not connect to the server."},
        {"rules the engine refuses",
         "",
         {},
         "Downloaded rules were invalid: Local functional smoke checks failed",
         {{"clearurls", rulesNamed("id")}, {"tessaril-supplementary", rulesNamed("s")}}},
        {"Command Guard rules without a version",
         "",
         {},
         "Downloaded rules were invalid: Command Guard rules were invalid.",
         releaseFiles("release", json{{"rules", json::array()}}.dump())},
    };
    for (const auto& [name, spoilt, served, expected, files] : cases) {
        Updating updating;
        updating.publish("2024.10.10", files);
        if (!spoilt.empty()) updating.web_.answer(fileBase + spoilt, served);
        ASSERT_EQ(updating.check(), "Rules update available: 2024.10.10") << name;
        updating.updater_->installAvailableUpdate(false);
        EXPECT_EQ(updating.settle(), expected) << name;
        EXPECT_EQ(updating.providers(), (std::vector<std::string>{"active", "active_supplement"})) << name;
        EXPECT_EQ(updating.updater_->installedVersion(), "2024.10.2") << name;
        EXPECT_EQ(updating.updater_->activeManifest()->currentVersion, "2024.10.2") << name;
        EXPECT_FALSE(fs::exists(updating.machine_.rules() / "previous")) << name;
        EXPECT_TRUE(updating.updater_->availableManifest().has_value()) << name;
    }
}

TEST(RulesUpdaterTest, InstallsAVerifiedReleaseWhole) {
    Updating updating;
    RulesUpdater& updater = *updating.updater_;
    const fs::path rules = updating.machine_.rules();
    writeFile(rules / "active/command-guard-rules.json", commandGuardRules("cg-1"));
    int statusChanges = 0;
    const auto connection = updater.updateStatusChanged().connect([&statusChanges] { ++statusChanges; });

    // A release without Command Guard rules keeps the ones in use.
    updating.publish("2024.10.10", releaseFiles("release"));
    ASSERT_EQ(updating.check(), "Rules update available: 2024.10.10");
    updater.installAvailableUpdate(false);
    EXPECT_EQ(updater.updateStatus(), RulesUpdateStatus::Downloading{});
    EXPECT_TRUE(updating.settle().starts_with("Installed rules 2024.10.10 at "));
    EXPECT_EQ(statusChanges, 6);  // checking, available, downloading, validating, installing, installed
    EXPECT_EQ(updating.providers(), (std::vector<std::string>{"release", "release_supplement"}));
    EXPECT_EQ(testing::readFile(rules / "active/command-guard-rules.json"), commandGuardRules("cg-1"));
    EXPECT_EQ(updater.activeManifest()->currentVersion, "2024.10.10");
    EXPECT_FALSE(updater.availableManifest());
    UserDefaults& defaults = updating.machine_.defaults();
    EXPECT_EQ(defaults.stringValue(RulesUpdater::installedVersionKey), "2024.10.10");
    EXPECT_EQ(defaults.dateValue(RulesUpdater::lastUpdateKey), updater.lastUpdateDate());
    EXPECT_FALSE(defaults.stringValue(RulesUpdater::installedCommandGuardVersionKey));

    // The user moves to beta while the next release downloads: it is dropped.
    updating.publish("2024.11.1", releaseFiles("next", commandGuardRules("cg-2")));
    ASSERT_EQ(updating.check(), "Rules update available: 2024.11.1");
    updater.installAvailableUpdate(false);
    updater.setSelectedChannel(RuleUpdateChannel::beta);
    EXPECT_EQ(updating.settle(), "");
    EXPECT_EQ(updating.providers(), (std::vector<std::string>{"release", "release_supplement"}));
    EXPECT_EQ(defaults.stringValue(RulesUpdater::selectedChannelKey), "beta");

    // An automatic install whose consent is withdrawn during the download installs nothing; the
    // user's own install of the same release then goes ahead.
    updater.setSelectedChannel(RuleUpdateChannel::stable);
    ProactivePreferences proactive(defaults);
    proactive.setDailyRules(true);
    proactive.setAutomaticInstall(true);
    updater.checkForUpdates(true);
    updating.executor_.runBackgroundWork();
    updating.executor_.runMainTasks();
    EXPECT_EQ(updater.updateStatus(), RulesUpdateStatus::Downloading{});
    proactive.setAutomaticInstall(false);
    EXPECT_EQ(updating.settle(), "");
    EXPECT_EQ(updater.installedVersion(), "2024.10.10");
    updater.installAvailableUpdate(false);
    EXPECT_TRUE(updating.settle().starts_with("Installed rules 2024.11.1 at "));
    EXPECT_EQ(updater.installedCommandGuardVersion(), "cg-2");
    EXPECT_EQ(defaults.stringValue(RulesUpdater::installedCommandGuardVersionKey), "cg-2");
    EXPECT_EQ(testing::readFile(rules / "previous/data.min.json"), rulesNamed("release"));
}

// An install killed just after any one of its steps leaves start-up a whole bundle, the old one or
// the new one (URL rules, Command Guard rules and version alike), and the next install completes.
TEST(RulesUpdaterTest, AnInstallKilledAfterAnyStepLeavesOneWholeBundle) {
    struct Bundle {
        std::vector<std::string> providers;
        std::string version;
        std::string commandGuard;
        bool operator==(const Bundle&) const = default;
    };
    const Bundle before{{"active", "active_supplement"}, "2024.10.2", commandGuardRules("cg-1")};
    const Bundle after{{"release", "release_supplement"}, "2024.10.10", commandGuardRules("cg-2")};
    const auto startUp = [](Machine& machine) {
        auto started = machine.startUp();
        return Bundle{started.providers, started.version.value_or(""),
                      testing::readFile(CommandGuard::defaultInstalledRulesURL(machine.paths()))};
    };
    int steps = -1;
    for (int stop = 1; steps < 0 && stop < 100; ++stop) {
        Updating updating;
        const fs::path rules = updating.machine_.rules();
        writeFile(rules / "active/command-guard-rules.json", before.commandGuard);
        updating.machine_.writeBundle("previous", "2024.9.1");
        const Files files = releaseFiles("release", after.commandGuard);
        updating.publish(after.version, files);
        ASSERT_EQ(updating.check(), "Rules update available: 2024.10.10");

        const pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            int seen = 0;
            updating.onInstallStep_ = [&seen, stop](std::string_view) {
                if (++seen == stop) std::raise(SIGKILL);
            };
            updating.updater_->installAvailableUpdate(false);
            updating.settle();
            _exit(seen);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFEXITED(status)) {
            steps = WEXITSTATUS(status);
        } else {
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "step " << stop;
        }

        const Bundle found = startUp(updating.machine_);
        EXPECT_TRUE(found == after || (steps < 0 && found == before)) << "step " << stop;
        updating.updater_->installAvailableUpdate(false);
        EXPECT_TRUE(updating.settle().starts_with("Installed rules 2024.10.10 at ")) << "step " << stop;
        EXPECT_TRUE(startUp(updating.machine_) == after) << "step " << stop;
        std::set<std::string> entries;
        for (const auto& entry : fs::directory_iterator(rules))
            entries.insert(entry.path().filename().string());
        EXPECT_EQ(entries, (std::set<std::string>{"active", "previous"})) << "step " << stop;
    }
    EXPECT_GT(steps, 3);
}

}  // namespace
}  // namespace tessaril
