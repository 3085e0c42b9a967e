// SPDX-License-Identifier: GPL-3.0-or-later
// The built tool run as a shell runs it: huge streamed input, a reader that goes away, several
// runs editing the user's settings at once, and a preferences store that is read-only, damaged, or
// turns to garbage while the tool reads.
#include "core/stores/DomainExceptionStore.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/cli/ToolTest.h"
#include "tests/robustness/ToolProcess.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::readFile;

using testing::Invocation;

// As a shell reports it: 128 + the signal when one ended the tool; -1 when it was still running.
int exitCode(const std::optional<int>& status) {
    if (!status) return -1;
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
}

class ToolProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(home.path().empty());
        options.environment = {{"HOME", home.path().string()},
                               {"XDG_CONFIG_HOME", (home.path() / "config").string()},
                               {"XDG_DATA_HOME", (home.path() / "data").string()}};
    }

    Invocation run(const std::vector<std::string>& arguments, const std::string& input = {}) {
        testing::ToolProcess tool(TESSARIL_TOOL_PATH, arguments, options);
        if (!tool.started()) return {-1, "", "not started"};
        tool.write(input);
        const int status = exitCode(tool.finish());
        return {status, tool.out(), tool.err()};
    }

    // Every edit is refused with a message, never a silent success.
    void expectEditsRefused() {
        EXPECT_EQ(run({"blocklist", "add", "other"}), (Invocation{1, "", "The blocklist could not be saved.\n"}));
        EXPECT_EQ(run({"exceptions", "add", "other.example"}),
                  (Invocation{1, "", "The site exceptions could not be saved.\n"}));
    }

    fs::path storeFile() const { return home.path() / "config/tessaril/defaults.sqlite3"; }

    // The user has one blocked parameter and one excepted site.
    void storeUserLists() {
        ASSERT_EQ(run({"blocklist", "add", "mytag"}), (Invocation{0, "", ""}));
        ASSERT_EQ(run({"exceptions", "add", "skip.example"}), (Invocation{0, "", ""}));
    }

    // Makes the config folder read-only for the tool. The superuser writes anywhere, so then the tool
    // runs as an ordinary user that owns the files, as their owner would.
    bool makeConfigReadOnly() {
        const fs::path config = home.path() / "config";
        fs::create_directories(config);
        if (geteuid() == 0) {
            for (const auto& entry : fs::recursive_directory_iterator(home.path()))
                if (lchown(entry.path().c_str(), 65534, 65534) != 0) return false;
            if (chown(home.path().c_str(), 65534, 65534) != 0) return false;
            options.prefix = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        }
        for (const auto& folder : {config / "tessaril", config}) {
            if (fs::exists(folder)) fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
        }
        // Proof that the tool really cannot write there.
        const auto probe = run({"exceptions", "add", "probe.example"});
        return probe.status != -1 && run({"exceptions", "list"}).out.find("probe") == std::string::npos;
    }

    testing::TemporaryDirectory home;
    testing::ToolProcess::Options options;
};

// A 100 MB line, streamed in 1 MB pieces: cleaned like a short one, and the tool never needs more
// than the line itself in memory. About 5 s in a debug build.
TEST_F(ToolProcessTest, HundredMegabyteLineIsStreamedAndCleaned) {
    options.keepOutput = 64;
    testing::ToolProcess tool(TESSARIL_TOOL_PATH, {"-q"}, options);
    ASSERT_TRUE(tool.started());
    const std::string piece(1 << 20, 'a');
    ASSERT_TRUE(tool.write("https://example.com/?utm_source=x&q="));
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(tool.write(piece));
    ASSERT_TRUE(tool.write("&gclid=y\nhttps://example.com/?fbclid=z\n"));
    const auto status = tool.finish(600s);
    EXPECT_EQ(exitCode(status), 0);
    EXPECT_EQ(tool.err(), "");
    EXPECT_EQ(tool.out(), "https://example.com/?q=" + std::string(41, 'a'));
    EXPECT_EQ(tool.outBytes(), std::string("https://example.com/?q=").size() + 100 * piece.size() + 1 +
                                   std::string("https://example.com/\n").size());
    EXPECT_TRUE(tool.outTail().ends_with("aaaa\nhttps://example.com/\n"));
}

// `tessaril < many-lines | head -1`: the tool stops soon after its reader has gone, silently, by
// SIGPIPE as a shell sets it up; with SIGPIPE ignored, with the output-failed status and one line.
TEST_F(ToolProcessTest, ClosedOutputEndsTheRunQuietly) {
    std::string lines;
    for (int i = 0; i < 200000; ++i)
        lines += "https://example.com/?id=" + std::to_string(i) + "&utm_source=x\n";
    for (const bool ignoreSigpipe : {false, true}) {
        SCOPED_TRACE(ignoreSigpipe ? "SIGPIPE ignored" : "SIGPIPE default");
        options.ignoreSigpipe = ignoreSigpipe;
        testing::ToolProcess tool(TESSARIL_TOOL_PATH, {"-q"}, options);
        ASSERT_TRUE(tool.started());
        // The tool answers what has arrived before it waits for more.
        tool.write(lines.substr(0, 100000));
        ASSERT_TRUE(tool.waitForLines(1));
        EXPECT_TRUE(tool.out().starts_with("https://example.com/?id=0\n"));
        tool.closeOutput();
        tool.write(lines.substr(100000), 30s);  // fails once the tool has stopped reading
        const auto status = tool.finish(30s);
        ASSERT_TRUE(status.has_value()) << "still running";
        if (ignoreSigpipe) {
            EXPECT_EQ(exitCode(status), 4);
            EXPECT_EQ(tool.err(), "tessaril: the output could not be written\n");
        } else {
            EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGPIPE) << *status;
            EXPECT_EQ(tool.err(), "");
        }
    }
}

// Two scripts edit the user's settings at once, as two `for i in $(seq 100); do tessaril ...; done &`
// loops would, each edit its own process: every edit that exited 0 is there afterwards, for each kind
// of stored document. A small rules bundle keeps the rules commands quick; what is tested is the
// store.
TEST_F(ToolProcessTest, ParallelWritersLoseNoEdit) {
#if defined(__SANITIZE_ADDRESS__)
    // Each run costs ten times as much under AddressSanitizer, which looks for memory faults that
    // a few runs find as well as many; the plain build counts the edits in full.
    constexpr int kEditsPerWriter = 25;
#else
    constexpr int kEditsPerWriter = 100;
#endif
    std::string rules = R"({"providers":{"test":{"urlPattern":"^https?://example\\.com","rules":[)";
    for (int i = 0; i < 2 * kEditsPerWriter; ++i)
        rules += (i > 0 ? ",\"r" : "\"r") + std::to_string(i) + "\"";
    const fs::path bundle = home.path() / "Tessaril_TessarilCore.bundle";
    testing::writeFile(bundle / "data.min.json", rules + "]}}}");
    options.environment["TESSARIL_RESOURCES"] = bundle.string();

    // What an edit runs, and the line that shows it was made: one of `blocklist list`, of
    // `exceptions list`, or of a summary of `rules list --json` ("off ID", "custom ID").
    struct Edit {
        std::vector<std::string> arguments;
        std::string shows;
    };
    using Kind = std::function<Edit(const std::string& tag, int index)>;
    const std::vector<Kind> kinds = {
        [](const std::string& tag, int) {
            return Edit{{"blocklist", "add", tag}, "*:" + tag};
        },
        [](const std::string& tag, int) {
            return Edit{{"exceptions", "add", tag + ".example"}, tag + ".example"};
        },
        [](const std::string&, int index) {
            const std::string rule = "Analytics:r" + std::to_string(index);
            return Edit{{"rules", "disable", rule}, "off " + rule};
        },
        [](const std::string& tag, int) {
            return Edit{{"rules", "add", tag}, "custom Custom:" + tag};
        },
    };
    // Two writers for each kind of document; the kinds run side by side, since each run spends most
    // of its time starting and waiting for the disk.
    std::vector<std::vector<Edit>> edits;
    for (const auto& kind : kinds) {
        for (int writer = 0; writer < 2; ++writer) {
            auto& sequence = edits.emplace_back();
            for (int i = 0; i < kEditsPerWriter; ++i)
                sequence.push_back(
                    kind("w" + std::to_string(writer) + "n" + std::to_string(i), writer * kEditsPerWriter + i));
        }
    }
    std::vector<std::vector<Invocation>> results(edits.size());
    {
        std::vector<std::thread> writers;
        for (std::size_t writer = 0; writer < edits.size(); ++writer) {
            writers.emplace_back([&, writer] {
                for (const auto& edit : edits.at(writer))
                    results.at(writer).push_back(run(edit.arguments));
            });
        }
        for (auto& writer : writers)
            writer.join();
    }

    std::set<std::string> shown;
    for (const auto* listing : {"blocklist", "exceptions"}) {
        std::istringstream lines(run({listing, "list"}).out);
        for (std::string line; std::getline(lines, line);)
            shown.insert(line);
    }
    const auto tree = nlohmann::json::parse(run({"rules", "list", "--json"}).out, nullptr, false);
    ASSERT_TRUE(tree.is_array());
    for (const auto& category : tree) {
        for (const auto& rule : category.at("rules")) {
            const std::string id = rule.at("id");
            if (!rule.at("isEnabled").get<bool>()) shown.insert("off " + id);
            if (rule.at("source") == "Custom") shown.insert("custom " + id);
        }
    }
    for (std::size_t writer = 0; writer < edits.size(); ++writer) {
        ASSERT_EQ(results.at(writer).size(), edits.at(writer).size());
        for (std::size_t i = 0; i < edits.at(writer).size(); ++i) {
            const Edit& edit = edits.at(writer).at(i);
            const Invocation& result = results.at(writer).at(i);
            EXPECT_EQ(result.status, 0) << edit.shows << ": " << result.err;
            if (result.status == 0) {
                EXPECT_TRUE(shown.contains(edit.shows)) << edit.shows << " was lost";
            }
        }
    }
}

// A damaged settings file, three ways: cut short, overwritten with random bytes, one page smashed.
// A command that only reads says so once and runs on the defaults, leaving the file alone; the
// first command that writes moves it aside, bytes and all, says where, and makes its change on a
// new file. Nothing the user had is deleted.
TEST_F(ToolProcessTest, DamagedStoreIsMovedAsideNeverOverwritten) {
    const std::vector<std::pair<std::string, std::function<void(std::string&)>>> damages = {
        {"truncated", [](std::string& bytes) { bytes.resize(bytes.size() / 2 + 100); }},
        {"random bytes",
         [](std::string& bytes) {
             std::mt19937 random(7);
             for (char& byte : bytes)
                 byte = static_cast<char>(random());
         }},
        {"page at 8192 smashed",
         [](std::string& bytes) {
             std::mt19937 random(8);
             for (std::size_t i = 8192; i < 8192 + 4096; ++i)
                 bytes.at(i) = static_cast<char>(random());
         }},
    };
    for (const auto& [name, damage] : damages) {
        SCOPED_TRACE(name);
        fs::remove_all(home.path() / "config");
        storeUserLists();
        {
            // Enough sites to fill several pages of the file.
            std::string sites = "[";
            for (int i = 0; i < 600; ++i)
                sites += std::string(i > 0 ? "," : "") + R"({"host":"site)" + std::to_string(i) + R"(.example"})";
            SqliteUserDefaults::open(storeFile())->setDataText(DomainExceptionStore::storageKey, sites + "]");
        }
        const std::string listed = run({"exceptions", "list"}).out;
        ASSERT_TRUE(listed.starts_with("site0.example\n") && listed.ends_with("\nsite599.example\n"));
        std::string bytes = readFile(storeFile());
        ASSERT_GE(bytes.size(), 8192U + 4096U);
        damage(bytes);
        std::ofstream(storeFile(), std::ios::binary | std::ios::trunc) << bytes;

        const std::string file = storeFile().string();
        const std::string readOnly = "tessaril: the settings file " + file +
                                     " is damaged, so the default settings are used; the next command that changes a"
                                     " setting will move it aside\n";
        EXPECT_EQ(run({"exceptions", "list"}), (Invocation{0, "", readOnly}));
        EXPECT_EQ(run({"-q"}, "https://example.com/?mytag=1&utm_source=x\n"),
                  (Invocation{0, "https://example.com/?mytag=1\n", readOnly}));
        EXPECT_EQ(readFile(storeFile()), bytes);

        const Invocation added = run({"exceptions", "add", "new.example"});
        std::vector<fs::path> moved;
        for (const auto& entry : fs::directory_iterator(storeFile().parent_path())) {
            const std::string moveName = entry.path().filename().string();
            if (moveName.starts_with("defaults.sqlite3.damaged-") && moveName.ends_with('Z')) {
                moved.push_back(entry.path());
            }
        }
        ASSERT_EQ(moved.size(), 1U);
        EXPECT_EQ(added, (Invocation{0, "",
                                     "tessaril: the settings file " + file + " was damaged and has been moved to " +
                                         moved.front().string() + ", so the default settings apply from now on\n"}));
        EXPECT_EQ(readFile(moved.front()), bytes);
        EXPECT_EQ(run({"exceptions", "list"}), (Invocation{0, "new.example\n", ""}));
    }
}

// The database turns to garbage between two lines of one run: no crash, every line is answered
// with either the user's rules or the shipped ones, and the garbage is not "repaired".
TEST_F(ToolProcessTest, StoreReplacedByGarbageWhileRunning) {
    storeUserLists();
    testing::ToolProcess tool(TESSARIL_TOOL_PATH, {"-q", "--line-buffered"}, options);
    ASSERT_TRUE(tool.started());
    tool.write("https://example.com/?mytag=1&id=2\n");
    ASSERT_TRUE(tool.waitForLines(1));
    EXPECT_EQ(tool.out(), "https://example.com/?id=2\n");

    const std::string garbage(64 * 1024, '\x5A');
    std::ofstream(storeFile(), std::ios::binary | std::ios::trunc) << garbage;
    tool.write("https://example.com/?mytag=1&id=3\nhttps://skip.example/?utm_source=x\n");
    ASSERT_TRUE(tool.waitForLines(3));
    const auto status = tool.finish();
    EXPECT_EQ(exitCode(status), 0);
    const std::string rest = tool.out().substr(std::string("https://example.com/?id=2\n").size());
    EXPECT_TRUE(rest == "https://example.com/?id=3\nhttps://skip.example/?utm_source=x\n" ||
                rest == "https://example.com/?mytag=1&id=3\nhttps://skip.example/\n")
        << rest;
    EXPECT_EQ(readFile(storeFile()), garbage);
}

// A read-only config folder: links are still cleaned with the user's lists, every edit is refused
// with a message (never a silent success), and the lists stay as they were.
TEST_F(ToolProcessTest, ReadOnlyConfigFolder) {
    storeUserLists();
    const std::string before = readFile(storeFile());
    if (!makeConfigReadOnly()) GTEST_SKIP() << "cannot make a folder read-only here";

    EXPECT_EQ(run({"-q"}, "https://example.com/?mytag=1&id=2\nhttps://skip.example/?utm_source=x\n"),
              (Invocation{0, "https://example.com/?id=2\nhttps://skip.example/?utm_source=x\n", ""}));
    expectEditsRefused();
    EXPECT_EQ(run({"exceptions", "remove", "skip.example"}).status, 1);

    EXPECT_EQ(run({"blocklist", "list"}).out, "*:mytag\n");
    EXPECT_EQ(run({"exceptions", "list"}).out, "skip.example\n");
    EXPECT_EQ(readFile(storeFile()), before);
}

// The same with nothing stored yet: the folder cannot even be made.
TEST_F(ToolProcessTest, ReadOnlyConfigFolderWithoutAStore) {
    if (!makeConfigReadOnly()) GTEST_SKIP() << "cannot make a folder read-only here";
    EXPECT_EQ(run({"-q"}, "https://example.com/?mytag=1&utm_source=x\n"),
              (Invocation{0, "https://example.com/?mytag=1\n", ""}));
    expectEditsRefused();
    EXPECT_FALSE(fs::exists(home.path() / "config/tessaril"));
}

// Every command that prints something fails with status 4 when its output cannot be written
// (a full disk here), never 0 or a verdict a script would act on.
TEST_F(ToolProcessTest, UnwritableOutputFailsEveryCommand) {
    storeUserLists();
    const auto exported = run({"rules", "export"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const fs::path exportFile = testing::writeFile(home.path() / "export.json", exported.out);
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
        {"rules", "import", exportFile.string()},
        {"blocklist", "list"},
        {"exceptions", "list"},
        {"--help"},
        {"--version"},
    };
    options.prefix = {"sh", "-c", "exec \"$0\" \"$@\" >/dev/full"};
    for (const auto& arguments : commands) {
        SCOPED_TRACE(arguments.front() + (arguments.size() > 1 ? " " + arguments[1] : std::string()));
        const auto result = run(arguments, tracked + "\n");
        EXPECT_EQ(result.status, 4);
        EXPECT_TRUE(result.err.ends_with("tessaril: the output could not be written\n")) << result.err;
    }
}

}  // namespace
}  // namespace tessaril
