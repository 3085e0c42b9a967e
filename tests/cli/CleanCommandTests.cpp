// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <ios>
#include <nlohmann/json.hpp>
#include <sstream>
#include <streambuf>
#include <system_error>

#include "core/foundation/Text.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/paths/XdgPaths.h"
#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using testing::Invocation;

// Serves its text, then fails the way a device that cannot be read does.
class FailingInput : public std::streambuf {
public:
    explicit FailingInput(std::string text) : text_(std::move(text)) {
        setg(text_.data(), text_.data(), text_.data() + text_.size());
    }

protected:
    int_type underflow() override {
        throw std::ios_base::failure("read", std::error_code(EIO, std::generic_category()));
    }

private:
    std::string text_;
};

using CleanCommandTest = testing::ToolTest;

TEST_F(CleanCommandTest, CleaningIsTheDefaultCommand) {
    const std::string tracked = "https://example.com/a?utm_source=x&id=1&UTM_MEDIUM=y";
    const Invocation plain{0, "https://example.com/a?id=1\n", ""};
    EXPECT_EQ(invoke({"-q", tracked}), plain);
    EXPECT_EQ(invoke({"clean", "--quiet", tracked}, "ignored\n"), plain);
    // A summary per cleaned link may go to standard error, never to standard output.
    const auto chatty = invoke({tracked, "https://example.com/clean"});
    EXPECT_EQ(chatty.out, "https://example.com/a?id=1\nhttps://example.com/clean\n");
    EXPECT_EQ(lines(chatty.err).size(), 1u);
    EXPECT_NE(chatty.err.find("Removed 2 tracking signals"), std::string::npos) << chatty.err;

    // "--" lets a subcommand's name through as text to clean; "rules" alone still is the subcommand.
    EXPECT_EQ(invoke({"--", "rules"}).out, "rules\n");
    EXPECT_EQ(invoke({"clean", "rules"}).out, "rules\n");
    // Arguments a command cannot take are a usage error, whichever command it is.
    for (const auto& usage :
         {Strings{"rules"}, Strings{"--no-such-option"}, Strings{"--x-redirect", "--no-x-redirect"},
          Strings{"blocklist"}, Strings{"blocklist", "add"}, Strings{"rules", "list", "--category"},
          Strings{"rules", "explain"}, Strings{"rules", "enable"}, Strings{"guard", "--threshold", "severe", "x"},
          Strings{"guard", "a", "b"}, Strings{"map"}, Strings{"wayback"}, Strings{"share"}, Strings{"report"}})
        EXPECT_EQ(invoke(usage).status, 2) << usage.front() << " " << usage.back();
    EXPECT_EQ(invoke({"--help"}).status, 0);
    EXPECT_EQ(invoke({"--version"}), (Invocation{0, std::string("tessaril ") + TESSARIL_TEST_VERSION + "\n", ""}));
    const auto absent = (root_ / "absent").string();
    EXPECT_EQ(invoke({"--rules", absent, tracked}),
              (Invocation{3, "", "tessaril: cannot read " + absent + "/data.min.json\n"}));
}

// That each line is answered by one line ended like it, and that a line that is no web link or not
// UTF-8 comes back as it was, fuzz/CleanLinesFuzzer.cpp checks on any input, given as standard
// input, as an argument and as JSON lines; here what its short inputs cannot hold.
TEST_F(CleanCommandTest, EveryLineIsAnsweredByOneLineEndedLikeIt) {
    const std::string megabyte(1 << 20, 'v');
    // A wrapper whose target holds a line break is no wrapper: it stays, cleaned.
    const std::string wrapper = "https://www.google.com/url?q=https://example.com/%0Aecho%20pwned";
    EXPECT_EQ(invoke({"--quiet"}, "https://example.com/?utm_source=x&q=" + megabyte + "\r\n" + wrapper + "&sa=D\n"),
              (Invocation{0, "https://example.com/?q=" + megabyte + "\r\n" + wrapper + "\n", ""}));
    EXPECT_EQ(invoke({"-q", "", "a\r\nb"}), (Invocation{0, "\na\r\nb\n", ""}));
}

// A folder or a failing device as standard input is an error, not an empty input; what was read
// before the failure is answered first.
TEST_F(CleanCommandTest, UnreadableInputIsAnErrorNotTheEnd) {
    std::ifstream folder(root_);
    FailingInput failing("https://example.com/?utm_source=1\nwords");
    std::istream device(&failing);
    for (auto [in, answered, why] :
         {std::tuple<std::istream*, std::string, std::string>{&folder, "", "is a folder"},
          {&device, "https://example.com/\nwords\n", "could not be read (Input/output error)"}}) {
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(cli::run({"-q"}, *in, out, err), 2);
        EXPECT_EQ(out.str(), answered);
        EXPECT_EQ(err.str(), "tessaril: standard input " + why + "\n");
    }
}

TEST_F(CleanCommandTest, JsonLinesDescribeEveryOutcome) {
    SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()))
        ->setDataText("domainExceptions_disabledDomains", R"([{"host":"example.org"}])");
    const auto result = invoke({"--json", "https://example.com/?utm_source=a&gclid=b&k=v", "https://example.com/k",
                                "https://www.Example.org/?utm_source=1", "words"});
    ASSERT_EQ(result.status, 0) << result.err;
    const Strings output = lines(result.out);
    ASSERT_EQ(output.size(), 4u);
    // Not const: a missing key reads as null and fails the comparison, rather than aborting.
    auto cleaned = nlohmann::ordered_json::parse(output[0]);
    Strings keys;
    for (const auto& [key, value] : cleaned.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (Strings{"input", "outcome", "url", "result", "impact"}));
    EXPECT_EQ(cleaned["url"], "https://example.com/?k=v");
    EXPECT_EQ(cleaned["result"]["cleanedURL"], cleaned["url"]);
    EXPECT_EQ(cleaned["result"]["removedQueryParameters"], nlohmann::json::array({"utm_source", "gclid"}));
    EXPECT_EQ(cleaned["impact"]["totalSignals"], 2);
    EXPECT_EQ(output[1], R"({"input":"https://example.com/k","outcome":"unchanged","url":"https://example.com/k"})");
    EXPECT_EQ(output[2], R"({"input":"https://www.Example.org/?utm_source=1","outcome":"skippedDisabled",)"
                         R"("url":"https://www.Example.org/?utm_source=1","host":"example.org"})");
    EXPECT_EQ(output[3], R"({"input":"words","outcome":"invalid","url":"words"})");
}

TEST_F(CleanCommandTest, UsesTheStoredSettingsWithoutWritingThem) {
    // Without a store, none is created.
    EXPECT_EQ(invoke({"-q", "https://example.com/?utm_source=1"}).out, "https://example.com/\n");
    EXPECT_FALSE(fs::exists(root_ / "config"));

    const fs::path file = defaultDefaultsFile(XdgPaths());
    {
        auto defaults = SqliteUserDefaults::open(file);
        defaults->setDataText("proactive_customBlocks_v1", R"({"rules":[{"parameter":"mine"}]})");
        defaults->setDataText("rulesEngine_enabledState",
                              R"({"cat:Social Media":false,"cat:Referral Marketing":false})");
        defaults->set("privacyRedirects_xRedirectEnabled", true);
    }
    const std::string before = testing::readFile(file);
    const auto modified = fs::last_write_time(file);

    EXPECT_EQ(invoke({"-q", "https://example.com/?mine=1&fbclid=2&utm_source=3", "https://x.com/u/status/1"}),
              (Invocation{0, "https://example.com/?fbclid=2\nhttps://xcancel.com/u/status/1\n", ""}));
    EXPECT_EQ(invoke({"-q", "--no-x-redirect", "https://x.com/u/status/1"}).out, "https://x.com/u/status/1\n");
    EXPECT_EQ(invoke({"-q", "--reddit-redirect", "--reddit-frontend", "lite.example:8080/path",
                      "https://old.reddit.com/r/a/?x=1"}),
              prints(0, "https://lite.example:8080/r/a/?x=1\n"));
    // A front end that cannot be used is said so once, not replaced by the default without a word.
    EXPECT_EQ(invoke({"-q", "--reddit-redirect", "--reddit-frontend", "ftp://lite.example",
                      "https://old.reddit.com/r/a/", "https://old.reddit.com/r/b/"}),
              (Invocation{0, "https://safereddit.com/r/a/\nhttps://safereddit.com/r/b/\n",
                          "tessaril: --reddit-frontend \"ftp://lite.example\" is not an http(s) address "
                          "of a site; using https://safereddit.com\n"}));

    EXPECT_EQ(testing::readFile(file), before);
    EXPECT_EQ(fs::last_write_time(file), modified);
    EXPECT_FALSE(SqliteUserDefaults::open(file)->objectExists("rulesEngine_matchCounts"));
}

}  // namespace
}  // namespace tessaril
