// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "cli/CommandLine.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/paths/XdgPaths.h"

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct Invocation {
    int status;
    std::string out;
    std::string err;
};

Strings lines(const std::string& text) {
    Strings result;
    std::string::size_type start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

std::string readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Every test gets its own home and XDG folders, so nothing the user has can leak in or be touched.
class CleanCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("tessaril-clean-" + std::to_string(std::random_device{}()));
        fs::create_directories(root_);
        setenv("HOME", root_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(root_); }

    static Invocation invoke(const Strings& arguments, const std::string& input = "") {
        std::istringstream in(input);
        std::ostringstream out;
        std::ostringstream err;
        const int status = cli::run(arguments, in, out, err);
        return {status, out.str(), err.str()};
    }

    // Writes to the user's store the way the application would, then closes it.
    static void store(const std::function<void(UserDefaults&)>& write) {
        auto defaults = SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()));
        write(*defaults);
    }

    fs::path root_;
};

TEST_F(CleanCommandTest, CleaningIsTheDefaultCommand) {
    const std::string tracked = "https://example.com/a?utm_source=x&id=1&UTM_MEDIUM=y";
    const auto plain = invoke({"-q", tracked});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out, "https://example.com/a?id=1\n");
    EXPECT_TRUE(plain.err.empty());
    EXPECT_EQ(invoke({"clean", "-q", tracked}).out, plain.out);
    EXPECT_EQ(invoke({"clean", "--quiet", tracked}, "ignored\n").out, plain.out);

    // A summary per cleaned link may go to standard error, never to standard output.
    const auto chatty = invoke({tracked, "https://example.com/clean"});
    EXPECT_EQ(chatty.out, "https://example.com/a?id=1\nhttps://example.com/clean\n");
    EXPECT_EQ(lines(chatty.err).size(), 1u);
    EXPECT_NE(chatty.err.find("Removed 2 tracking signals"), std::string::npos) << chatty.err;

    // "--" lets a subcommand's name through as text to clean; "rules" alone still is the subcommand.
    EXPECT_EQ(invoke({"--", "rules"}).out, "rules\n");
    EXPECT_EQ(invoke({"clean", "rules"}).out, "rules\n");
    EXPECT_EQ(invoke({"rules"}).status, 2);
    EXPECT_NE(invoke({"--help"}).out.find("clean"), std::string::npos);

    EXPECT_EQ(invoke({"--no-such-option", tracked}).status, 2);
    EXPECT_EQ(invoke({"--x-redirect", "--no-x-redirect", tracked}).status, 2);
    const auto missing = invoke({"--rules", (root_ / "absent").string(), tracked});
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(missing.out.empty());
}

TEST_F(CleanCommandTest, StandardInputStreamsOneLinePerInputInOrder) {
    std::string deep = "https://example.com/?utm_source=1";
    for (int i = 0; i < 12; ++i) {
        std::string encoded;
        for (char c : deep) {
            if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
                encoded += c;
            } else {
                static constexpr char kHex[] = "0123456789ABCDEF";
                encoded += {'%', kHex[static_cast<unsigned char>(c) >> 4], kHex[c & 15]};
            }
        }
        deep = "https://www.google.com/url?q=" + encoded;
    }
    std::string many = "https://example.com/?";
    std::string keptOfMany = many;
    for (int i = 0; i < 10000; ++i) {
        many += "p" + std::to_string(i) + "=1&utm_source=" + std::to_string(i) + "&";
        keptOfMany += "p" + std::to_string(i) + "=1&";
    }
    const Strings inputs = {"https://example.com/?fbclid=abc&x=1",
                            "",
                            "   ",
                            "just some words",
                            std::string("nul\0byte https://example.com/?utm_source=1", 41),
                            "bad \xff\xfe utf-8",
                            "lone\rcarriage return",
                            "https://example.com/?utm_source=1\r",
                            "HTTPS://EXAMPLE.COM/?utm_source=1",
                            std::string(1 << 20, 'x'),
                            many,
                            deep,
                            "https://example.com/last"};
    std::string input;
    for (const auto& line : inputs)
        input += line + "\n";
    input.pop_back();  // The last line may lack its line feed.

    const auto result = invoke({"--quiet"}, input);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.err.empty());
    const Strings output = lines(result.out);
    ASSERT_EQ(output.size(), inputs.size());
    EXPECT_EQ(output[0], "https://example.com/?x=1");
    for (std::size_t i : {1, 2, 3, 4, 5, 6, 8, 9})
        EXPECT_EQ(output[i], inputs[i]) << i;
    EXPECT_EQ(output[7], "https://example.com/");
    EXPECT_EQ(output[10], keptOfMany);
    EXPECT_TRUE(output[11].starts_with("https://")) << output[11].substr(0, 200);
    EXPECT_EQ(output[12], "https://example.com/last");

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
    const std::string before = readBytes(file);
    const auto modified = fs::last_write_time(file);

    const auto result = invoke({"-q", "https://example.com/?mine=1&fbclid=2&utm_source=3", "https://x.com/u/status/1"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "https://example.com/?fbclid=2\nhttps://xcancel.com/u/status/1\n");
    EXPECT_EQ(invoke({"-q", "--no-x-redirect", "https://x.com/u/status/1"}).out, "https://x.com/u/status/1\n");
    EXPECT_EQ(invoke({"-q", "--reddit-redirect", "--reddit-frontend", "lite.example:8080/path",
                      "https://old.reddit.com/r/a/?x=1"})
                  .out,
              "https://lite.example:8080/r/a/?x=1\n");

    EXPECT_EQ(readBytes(file), before);
    EXPECT_EQ(fs::last_write_time(file), modified);
    auto defaults = SqliteUserDefaults::open(file);
    EXPECT_FALSE(defaults->objectExists("rulesEngine_matchCounts"));
}

}  // namespace
}  // namespace tessaril
