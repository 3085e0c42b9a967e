// SPDX-License-Identifier: GPL-3.0-or-later
// The built tool run as a shell runs it: what a script sees when the reader goes away or the disk is
// full, several runs editing the user's settings at once, and a preferences store that is read-only,
// damaged, or turns to garbage while the tool reads.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/stores/DomainExceptionStore.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using testing::Invocation;
using testing::readFile;

class ToolProcessTest : public testing::ToolTest {
protected:
    static fs::path storeFile(const fs::path& home) { return home / "config/tessaril/defaults.sqlite3"; }

    // The user has one blocked parameter and one excepted site.
    static void storeUserLists() {
        ASSERT_EQ(invoke({"blocklist", "add", "mytag"}), (Invocation{0, "", ""}));
        ASSERT_EQ(invoke({"exceptions", "add", "skip.example"}), (Invocation{0, "", ""}));
    }

    // Makes the config folder of `home` read-only for the tool, and says how to run it: the
    // superuser writes anywhere, so then the tool runs as an ordinary user that owns the files.
    static std::optional<std::string> readOnlyConfig(const fs::path& home) {
        fs::create_directories(home / "config");
        fs::permissions(home.parent_path(), fs::perms::others_exec, fs::perm_options::add);
        std::string script = R"("$0" "$@")";
        if (geteuid() == 0) {
            for (const auto& entry : fs::recursive_directory_iterator(home))
                if (lchown(entry.path().c_str(), 65534, 65534) != 0) return std::nullopt;
            if (chown(home.c_str(), 65534, 65534) != 0) return std::nullopt;
            script = "setpriv --reuid=65534 --regid=65534 --clear-groups " + script;
        }
        for (const auto& folder : {home / "config/tessaril", home / "config"}) {
            if (fs::exists(folder)) fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        }
        return script;
    }
};

// `tessaril < many-lines | head -n 1`: once its reader has gone the tool stops, silently by SIGPIPE
// as a shell sets it up; with SIGPIPE ignored, with the output-failed status and one line saying so.
TEST_F(ToolProcessTest, ClosedOutputEndsTheRunQuietly) {
    std::string lines;
    for (int i = 0; i < 200000; ++i)
        lines += "https://example.com/?id=" + std::to_string(i) + "&utm_source=x\n";
    const std::string pipeline = R"("$0" -q | head -n 1; echo "status ${PIPESTATUS[0]}")";
    EXPECT_EQ(spawn({}, lines, pipeline), (Invocation{0, "https://example.com/?id=0\nstatus 141\n", ""}));
    EXPECT_EQ(spawn({}, lines, "trap '' PIPE; " + pipeline),
              (Invocation{0, "https://example.com/?id=0\nstatus 4\n", "tessaril: the output could not be written\n"}));
}

// Every command that prints something fails with status 4 when its output cannot be written
// (a full disk here), never 0 or a verdict a script would act on.
TEST_F(ToolProcessTest, UnwritableOutputFailsEveryCommand) {
    storeUserLists();
    const auto exported = invoke({"rules", "export"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const std::string exportFile = writeFile("export.json", exported.out).string();
    const std::string tracked = "https://example.com/?id=2&utm_source=x";
    const std::vector<std::vector<std::string>> commands = {
        {tracked},
        {"-q", "--json", tracked},
        {"--line-buffered", "-q"},
        {"guard", "curl https://example.com/x.sh | sh"},
        {"guard", "--json", "ls -l"},
        {"guard", "--json", "curl https://example.com/x.sh | sh"},
        {"neutralize", "rm -rf /"},
        {"rules", "list"},
        {"rules", "list", "--json"},
        {"rules", "export"},
        {"rules", "explain", tracked},
        {"rules", "add", "mine_x"},
        {"rules", "import", exportFile},
        {"blocklist", "list"},
        {"exceptions", "list"},
        {"--help"},
        {"--version"},
    };
    for (const auto& arguments : commands) {
        SCOPED_TRACE(arguments.front() + (arguments.size() > 1 ? " " + arguments[1] : std::string()));
        const auto result = spawn(arguments, tracked + "\n", R"("$0" "$@" >/dev/full)");
        EXPECT_EQ(result.status, 4);
        EXPECT_TRUE(result.err.ends_with("tessaril: the output could not be written\n")) << result.err;
    }
}

// Two scripts edit the user's settings at once, as `for i in $(seq 100); do tessaril ...; done &`
// loops would, each edit its own process: every edit is made, and is there afterwards, for each kind
// of stored document. A small rules bundle keeps the rules commands quick; what is tested is the
// store.
TEST_F(ToolProcessTest, ParallelWritersLoseNoEdit) {
#if defined(__SANITIZE_ADDRESS__)
    // Each run costs ten times as much under AddressSanitizer, which finds memory faults in a few
    // runs as well as in many; the plain build makes every edit.
    constexpr int kListEdits = 25;
    constexpr int kRuleEdits = 5;
#else
    constexpr int kListEdits = 100;
    // A rules edit loads the rules, which costs several list edits; its store is the same one.
    constexpr int kRuleEdits = 20;
#endif
    std::string rules = R"({"providers":{"test":{"urlPattern":"^https?://example\\.com","rules":["r0")";
    for (int i = 1; i < 2 * kRuleEdits; ++i)
        rules += ",\"r" + std::to_string(i) + "\"";
    const auto bundle = writeFile("Tessaril_TessarilCore.bundle/data.min.json", rules + "]}}}").parent_path();

    // Each kind of edit, and how a listing shows it was made: a line of `blocklist list` or of
    // `exceptions list`, or a rule of `rules list --json` that is off or custom.
    struct Kind {
        std::string command;
        std::function<std::string(const std::string&tag, int index)> argument, shows;
        int edits;
    };
    const Kind kinds[] = {
        {"blocklist add", [](auto& tag, int) { return tag; }, [](auto& tag, int) { return "*:" + tag; }, kListEdits},
        {"exceptions add", [](auto& tag, int) { return tag + ".example"; },
         [](auto& tag, int) { return tag + ".example"; }, kListEdits},
        {"rules disable", [](auto&, int i) { return "Analytics:r" + std::to_string(i); },
         [](auto&, int i) { return "off Analytics:r" + std::to_string(i); }, kRuleEdits},
        {"rules add", [](auto& tag, int) { return tag; }, [](auto& tag, int) { return "custom Custom:" + tag; },
         kRuleEdits},
    };
    std::vector<std::string> expected;
    std::vector<Invocation> results(2 * std::size(kinds));
    {
        std::vector<std::jthread> writers;
        for (std::size_t k = 0; k < std::size(kinds); ++k) {
            for (int writer = 0; writer < 2; ++writer) {
                std::vector<std::string> arguments;
                for (int i = 0; i < kinds[k].edits; ++i) {
                    const std::string tag = "w" + std::to_string(writer) + "n" + std::to_string(i);
                    arguments.push_back(kinds[k].argument(tag, writer * kRuleEdits + i));
                    expected.push_back(kinds[k].shows(tag, writer * kRuleEdits + i));
                }
                const std::string loop = "export TESSARIL_RESOURCES=" + bundle.string() +
                                         R"(; for x in "$@"; do "$0" )" + kinds[k].command +
                                         R"( "$x" >/dev/null || echo "$x failed"; done)";
                writers.emplace_back([this, &result = results[2 * k + writer], loop, arguments] {
                    result = spawn(arguments, {}, loop);
                });
            }
        }
    }
    for (const auto& result : results)
        EXPECT_EQ(result, (Invocation{0, "", ""}));

    std::set<std::string> shown;
    for (const auto* listing : {"blocklist", "exceptions"}) {
        for (const auto& line : lines(invoke({listing, "list"}).out))
            shown.insert(line);
    }
    const auto tree = nlohmann::json::parse(invoke({"rules", "list", "--json", "--rules", bundle}).out, nullptr, false);
    ASSERT_TRUE(tree.is_array());
    for (const auto& category : tree) {
        for (const auto& rule : category.at("rules")) {
            const std::string id = rule.at("id");
            if (!rule.at("isEnabled").get<bool>()) shown.insert("off " + id);
            if (rule.at("source") == "Custom") shown.insert("custom " + id);
        }
    }
    for (const auto& edit : expected)
        EXPECT_TRUE(shown.contains(edit)) << edit << " was lost";
}

// A damaged settings file, three ways: cut short, overwritten with random bytes, one page smashed.
// A command that only reads says so once and runs on the defaults, leaving the file alone; the
// first command that writes moves it aside, bytes and all, says where, and makes its change on a
// new file. Nothing the user had is deleted.
TEST_F(ToolProcessTest, DamagedStoreIsMovedAsideNeverOverwritten) {
    const auto randomBytes = [](std::string& bytes, std::size_t from, std::size_t to) {
        std::mt19937 random(7);
        for (std::size_t i = from; i < to; ++i)
            bytes.at(i) = static_cast<char>(random());
    };
    const std::pair<std::string, std::function<void(std::string&)>> damages[] = {
        {"truncated", [](std::string& bytes) { bytes.resize(bytes.size() / 2 + 100); }},
        {"random bytes", [&](std::string& bytes) { randomBytes(bytes, 0, bytes.size()); }},
        {"page at 8192 smashed", [&](std::string& bytes) { randomBytes(bytes, 8192, 8192 + 4096); }},
    };
    const fs::path file = storeFile(root_);
    for (const auto& [name, damage] : damages) {
        SCOPED_TRACE(name);
        fs::remove_all(root_ / "config");
        storeUserLists();
        // Enough sites to fill several pages of the file.
        std::string sites = R"([{"host":"site0.example"})";
        for (int i = 1; i < 600; ++i)
            sites += R"(,{"host":"site)" + std::to_string(i) + R"(.example"})";
        SqliteUserDefaults::open(file)->setDataText(DomainExceptionStore::storageKey, sites + "]");
        std::string bytes = readFile(file);
        ASSERT_GE(bytes.size(), 8192U + 4096U);
        damage(bytes);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;

        const std::string readOnly = "tessaril: the settings file " + file.string() +
                                     " is damaged, so the default settings are used; the next command that changes a"
                                     " setting will move it aside\n";
        EXPECT_EQ(invoke({"exceptions", "list"}), (Invocation{0, "", readOnly}));
        EXPECT_EQ(invoke({"-q"}, "https://example.com/?mytag=1&utm_source=x\n"),
                  (Invocation{0, "https://example.com/?mytag=1\n", readOnly}));
        EXPECT_EQ(readFile(file), bytes);

        const Invocation added = invoke({"exceptions", "add", "new.example"});
        std::vector<fs::path> moved;
        for (const auto& entry : fs::directory_iterator(file.parent_path())) {
            const std::string movedName = entry.path().filename().string();
            if (movedName.starts_with("defaults.sqlite3.damaged-") && movedName.ends_with('Z'))
                moved.push_back(entry.path());
        }
        ASSERT_EQ(moved.size(), 1U);
        EXPECT_EQ(added,
                  (Invocation{0, "",
                              "tessaril: the settings file " + file.string() + " was damaged and has been moved to " +
                                  moved.front().string() + ", so the default settings apply from now on\n"}));
        EXPECT_EQ(readFile(moved.front()), bytes);
        EXPECT_EQ(invoke({"exceptions", "list"}), (Invocation{0, "new.example\n", ""}));
    }
}

// The database turns to garbage between two lines of one run: no crash, every line is answered with
// either the user's lists or the defaults, and the garbage is not "repaired". The script also shows
// that an answer comes before the tool waits for more input.
TEST_F(ToolProcessTest, StoreReplacedByGarbageWhileRunning) {
    storeUserLists();
    const std::string script = R"({ echo 'https://example.com/?mytag=1&id=2';
        for i in $(seq 3000); do [ -s "$1" ] && break; sleep 0.01; done
        head -c 65536 /dev/zero | tr '\0' Z > "$2"
        echo 'https://example.com/?mytag=1&id=3'; echo 'https://skip.example/?utm_source=x'
      } | "$0" -q --line-buffered > "$1"; cat "$1")";
    const auto run = spawn({(root_ / "answers").string(), storeFile(root_).string()}, "", script);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string first = "https://example.com/?id=2\n";
    EXPECT_TRUE(run.out == first + "https://example.com/?id=3\nhttps://skip.example/?utm_source=x\n" ||
                run.out == first + "https://example.com/?mytag=1&id=3\nhttps://skip.example/\n")
        << run.out;
    EXPECT_EQ(readFile(storeFile(root_)), std::string(65536, 'Z'));
}

// A read-only config folder, with the user's store in it and without one: links are still cleaned
// with the user's lists, every edit is refused with a message (never a silent success), and
// nothing is written.
TEST_F(ToolProcessTest, ReadOnlyConfigFolder) {
    for (const bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "with a store" : "without a store");
        const fs::path home = root_ / (stored ? "stored" : "empty");
        useHome(home);
        if (stored) storeUserLists();
        const std::string before = readFile(storeFile(home));
        const auto script = readOnlyConfig(home);
        // Proof that the tool really cannot write there.
        if (!script || spawn({"exceptions", "add", "probe.example"}, {}, *script).status == 0)
            GTEST_SKIP() << "cannot make a folder read-only here";

        EXPECT_EQ(spawn({"-q"}, "https://example.com/?mytag=1&id=2\nhttps://skip.example/?utm_source=x\n", *script),
                  (Invocation{0,
                              stored ? "https://example.com/?id=2\nhttps://skip.example/?utm_source=x\n"
                                     : "https://example.com/?mytag=1&id=2\nhttps://skip.example/\n",
                              ""}));
        EXPECT_EQ(spawn({"blocklist", "add", "other"}, {}, *script),
                  (Invocation{1, "", "The blocklist could not be saved.\n"}));
        EXPECT_EQ(spawn({"exceptions", "add", "other.example"}, {}, *script),
                  (Invocation{1, "", "The site exceptions could not be saved.\n"}));
        EXPECT_EQ(spawn({"rules", "add", "other"}, {}, *script),
                  (Invocation{1, "", "tessaril: nothing changed: the preferences store could not be written\n"}));
        EXPECT_EQ(spawn({"exceptions", "remove", "skip.example"}, {}, *script).status, 1);
        EXPECT_EQ(spawn({"blocklist", "list"}, {}, *script).out, stored ? "*:mytag\n" : "");
        EXPECT_EQ(readFile(storeFile(home)), before);
        EXPECT_EQ(fs::exists(home / "config/tessaril"), stored);
    }
}

}  // namespace
}  // namespace tessaril
