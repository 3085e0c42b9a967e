// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/paths/XdgPaths.h"
#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using testing::Invocation;
using testing::readFile;

class CleanCommandTest : public testing::ToolTest {
protected:
    // Writes to the user's store the way the application would, then closes it.
    static void store(const std::function<void(UserDefaults&)>& write) {
        auto defaults = SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()));
        write(*defaults);
    }
};

TEST_F(CleanCommandTest, CleaningIsTheDefaultCommand) {
    const std::string tracked = "https://example.com/a?utm_source=x&id=1&UTM_MEDIUM=y";
    const Invocation plain{0, "https://example.com/a?id=1\n", ""};
    EXPECT_EQ(invoke({"-q", tracked}), plain);
    EXPECT_EQ(invoke({"clean", "-q", tracked}), plain);
    EXPECT_EQ(invoke({"clean", "--quiet", tracked}, "ignored\n"), plain);

    // A summary per cleaned link may go to standard error, never to standard output.
    const auto chatty = invoke({tracked, "https://example.com/clean"});
    EXPECT_EQ(chatty.out, "https://example.com/a?id=1\nhttps://example.com/clean\n");
    EXPECT_EQ(lines(chatty.err).size(), 1u);
    EXPECT_NE(chatty.err.find("Removed 2 tracking signals"), std::string::npos) << chatty.err;

    // "--" lets a subcommand's name through as text to clean; "rules" alone still is the subcommand.
    EXPECT_EQ(invoke({"--", "rules"}).out, "rules\n");
    EXPECT_EQ(invoke({"clean", "rules"}).out, "rules\n");
    EXPECT_EQ(invoke({"rules"}).status, 2);
    const auto help = invoke({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"clean", "rules", "blocklist", "exceptions", "guard", "neutralize"})
        EXPECT_NE(help.out.find("\n  " + std::string(command) + " "), std::string::npos) << command;
    EXPECT_EQ(invoke({"--version"}), (Invocation{0, std::string("tessaril ") + TESSARIL_TEST_VERSION + "\n", ""}));

    EXPECT_EQ(invoke({"--no-such-option", tracked}).status, 2);
    EXPECT_EQ(invoke({"--x-redirect", "--no-x-redirect", tracked}).status, 2);
    const auto absent = (root_ / "absent").string();
    EXPECT_EQ(invoke({"--rules", absent, tracked}),
              (Invocation{3, "", "tessaril: cannot read " + absent + "/data.min.json\n"}));
}

// Long lines, many parameters and broken encodings through the tool are in tests/robustness.
TEST_F(CleanCommandTest, StandardInputStreamsOneLinePerInputInOrder) {
    const Strings inputs = {"https://example.com/?fbclid=abc&x=1",
                            "",
                            "   ",
                            "just some words",
                            std::string("nul\0byte https://example.com/?utm_source=1", 41),
                            "bad \xff\xfe utf-8",
                            "lone\rcarriage return",
                            "https://example.com/?utm_source=1\r",
                            "HTTPS://EXAMPLE.COM/?utm_source=1",
                            "https://example.com/last"};
    std::string input;
    for (const auto& line : inputs)
        input += line + "\n";
    input.pop_back();  // The last line may lack its line feed.

    const auto result = invoke({"--quiet"}, input);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.err.empty());
    // Whatever is not a link to clean comes back exactly as it was.
    Strings expected = inputs;
    expected[0] = "https://example.com/?x=1";
    expected[7] = "https://example.com/";
    EXPECT_EQ(lines(result.out), expected);

    // Line-buffered output is the same text.
    EXPECT_EQ(invoke({"-q", "--line-buffered"}, input).out, result.out);
}

TEST_F(CleanCommandTest, JsonLinesDescribeEveryOutcome) {
    store([](UserDefaults& defaults) {
        defaults.setDataText("domainExceptions_disabledDomains", R"([{"host":"example.org"}])");
    });
    const auto result = invoke({"--json", "https://example.com/?utm_source=a&gclid=b&k=v", "https://example.com/k",
                                "https://www.Example.org/?utm_source=1", "words", "bad \xff"});
    ASSERT_EQ(result.status, 0) << result.err;
    const Strings output = lines(result.out);
    ASSERT_EQ(output.size(), 5u);
    std::vector<nlohmann::ordered_json> objects;
    for (const auto& line : output)
        objects.push_back(nlohmann::ordered_json::parse(line));

    const auto& cleaned = objects[0];
    Strings keys;
    for (const auto& [key, value] : cleaned.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (Strings{"input", "outcome", "url", "result", "impact"}));
    EXPECT_EQ(cleaned["outcome"], "cleaned");
    EXPECT_EQ(cleaned["url"], "https://example.com/?k=v");
    EXPECT_EQ(cleaned["result"]["cleanedURL"], cleaned["url"]);
    EXPECT_EQ(cleaned["result"]["removedQueryParameters"], nlohmann::json::array({"utm_source", "gclid"}));
    const auto& categories = cleaned["result"]["matchedCategories"];
    ASSERT_TRUE(categories.is_array());
    EXPECT_FALSE(categories.empty());
    EXPECT_EQ(cleaned["impact"]["totalSignals"], 2);
    for (const char* key : {"categories", "impactLevel", "confidence", "summary", "explanation"})
        EXPECT_TRUE(cleaned["impact"].contains(key)) << key;

    EXPECT_EQ(objects[1].dump(),
              R"({"input":"https://example.com/k","outcome":"unchanged","url":"https://example.com/k"})");
    EXPECT_EQ(objects[2]["outcome"], "skippedDisabled");
    EXPECT_EQ(objects[2]["host"], "example.org");
    EXPECT_EQ(objects[2]["url"], "https://www.Example.org/?utm_source=1");
    EXPECT_EQ(objects[3].dump(), R"({"input":"words","outcome":"invalid","url":"words"})");
    EXPECT_EQ(objects[4]["outcome"], "invalid");
}

TEST_F(CleanCommandTest, UsesTheStoredSettingsWithoutWritingThem) {
    // Without a store, none is created.
    EXPECT_EQ(invoke({"-q", "https://example.com/?utm_source=1"}).out, "https://example.com/\n");
    EXPECT_FALSE(fs::exists(root_ / "config"));

    store([](UserDefaults& defaults) {
        defaults.setDataText("proactive_customBlocks_v1", R"({"rules":[{"parameter":"mine"}]})");
        defaults.setDataText("rulesEngine_enabledState",
                             R"({"cat:Social Media":false,"cat:Referral Marketing":false})");
        defaults.set("privacyRedirects_xRedirectEnabled", true);
    });
    const fs::path file = defaultDefaultsFile(XdgPaths());
    const std::string before = readFile(file);
    const auto modified = fs::last_write_time(file);

    const auto result = invoke({"-q", "https://example.com/?mine=1&fbclid=2&utm_source=3", "https://x.com/u/status/1"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "https://example.com/?fbclid=2\nhttps://xcancel.com/u/status/1\n");
    EXPECT_EQ(invoke({"-q", "--no-x-redirect", "https://x.com/u/status/1"}).out, "https://x.com/u/status/1\n");
    EXPECT_EQ(invoke({"-q", "--reddit-redirect", "--reddit-frontend", "lite.example:8080/path",
                      "https://old.reddit.com/r/a/?x=1"})
                  .out,
              "https://lite.example:8080/r/a/?x=1\n");

    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(fs::last_write_time(file), modified);
    auto defaults = SqliteUserDefaults::open(file);
    EXPECT_FALSE(defaults->objectExists("rulesEngine_matchCounts"));
}

}  // namespace
}  // namespace tessaril
