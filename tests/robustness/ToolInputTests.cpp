// SPDX-License-Identifier: GPL-3.0-or-later
// The tool fed what real clipboards and files hold: every line comes back cleaned or exactly as given.
#include "tests/cli/ToolTest.h"

#include <nlohmann/json.hpp>

#include <string>

namespace tessaril {
namespace {

using namespace std::string_literals;

class ToolInputTest : public testing::ToolTest {
protected:
    static testing::Invocation clean(const std::string& input, const std::vector<std::string>& arguments = {"-q"}) {
        return invoke(arguments, input);
    }
};

// Lines that are not UTF-8 are not links: they are echoed byte for byte, next to lines that are
// cleaned, and the JSON form stays parseable whatever the bytes.
TEST_F(ToolInputTest, BrokenEncodingsAreEchoedAndNeverBreakTheJson) {
    const std::string utf16 =
        "\xFF\xFEh\0t\0t\0p\0:\0/\0/\0a\0.\0e\0x\0a\0m\0p\0l\0e\0/\0?\0u\0t\0m\0_\0s\0=\0x\0\r\0"s;
    const std::string input = "https://example.com/?q=caf\xE9&utm_source=x\n"s +  // Latin-1 byte: not a link
                              "\xC3\x28 not text\n" +                             // broken UTF-8, not a link
                              "https://example.com/\xED\xA0\x80?fbclid=1\n" +     // encoded lone surrogate
                              "https://example.com/?utm_source=x\0&id=1\n"s +     // NUL inside a link
                              "\0\0\0\n"s + utf16 + "\n\0\n"s +                   // NULs, UTF-16 with its BOM
                              "https://example.com/?gclid=1&id=\u00E9";           // a good link, no line break
    const auto run = clean(input);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    const std::string echoed = input.substr(0, input.rfind('\n') + 1);
    EXPECT_EQ(run.out, echoed + "https://example.com/?id=\u00E9\n");

    const auto json = clean(input, {"--json"});
    EXPECT_EQ(json.status, 0);
    std::vector<std::string> outcomes;
    for (const auto& line : lines(json.out)) {
        const auto parsed = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(parsed.is_object()) << line;
        outcomes.push_back(parsed.at("outcome"));
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"invalid", "invalid", "invalid", "invalid", "invalid", "invalid",
                                                  "invalid", "cleaned"}));
}

// Every answer ends as its line did, CRLF or LF. CR alone does not end a line, so old-style CR text
// is one line, and not a link.
TEST_F(ToolInputTest, LineEndings) {
    const auto crlf = clean("https://example.com/?utm_source=x&id=1\r\nplain words\r\nhttps://example.com/?id=2\r\n");
    EXPECT_EQ(crlf.status, 0);
    EXPECT_EQ(crlf.out, "https://example.com/?id=1\r\nplain words\r\nhttps://example.com/?id=2\r\n");

    const std::string crOnly = "https://a.example/?utm_source=x\rhttps://b.example/?utm_source=y\r";
    const auto cr = clean(crOnly);
    EXPECT_EQ(cr.status, 0);
    EXPECT_EQ(cr.out, crOnly + "\n");

    // No final line break: the last line is still answered, with one.
    EXPECT_EQ(clean("https://example.com/?gclid=1").out, "https://example.com/\n");
    EXPECT_EQ(clean("\n\n").out, "\n\n");
}

// A megabyte on one line, and a link with 100,000 parameters: cleaned like short ones (about a
// second each in a debug build).
TEST_F(ToolInputTest, LongLinesAndManyParameters) {
    const std::string value(1 << 20, 'v');
    std::string query;
    std::string kept;
    for (int i = 0; i < 100000; ++i) {
        query += "k" + std::to_string(i) + "=1&";
        if (i % 1000 == 0) query += "utm_source=s" + std::to_string(i) + "&";
        kept += (i == 0 ? "" : "&") + ("k" + std::to_string(i) + "=1");
    }
    const auto run = clean("https://example.com/?utm_source=x&q=" + value + "\n" + value + "\nhttps://example.com/?" +
                           query + "gclid=z\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "https://example.com/?q=" + value + "\n" + value + "\nhttps://example.com/?" + kept + "\n");
}

}  // namespace
}  // namespace tessaril
