// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

using LinkCommandsTest = testing::ToolTest;
using testing::Invocation;
using Strings = std::vector<std::string>;
using namespace std::string_literals;

TEST_F(LinkCommandsTest, EachCommandPrintsItsAnswerOrSaysWhyNot) {
    const std::string longLink = "https://example.com/?id=" + std::string(9000, 'x');
    const std::pair<Strings, Invocation> cases[] = {
        {{"map", "https://maps.apple.com/?q=Cafe&ll=1,2&z=3"},
         {0, "https://www.google.com/maps/search/Cafe/@1,2,3z\n", ""}},
        {{"map", "--json", "https://www.google.com/maps/search/?api=1&query=1,2"},
         prints(
             0,
             R"({"target":"appleMaps","url":"https://maps.apple.com/?ll=1,2","operation":{"kind":"functional_transformation",)"
             R"("inputURL":"https://www.google.com/maps/search/?api=1&query=1,2","outputURL":"https://maps.apple.com/?ll=1,2",)"
             R"("removedParameters":[],"networkUsed":false,"note":"Open in Apple Maps"}})"
             "\n")},
        {{"map", "https://maps.apple.com/?q=Cafe&utm_source=x"},
         {1, "",
          "tessaril: no conversion: not an https Apple Maps or Google Maps link of a shape both services understand "
          "(every parameter must carry over)\n"}},
        {{"wayback", " https://example.com/?a=1#b "},
         {0, "https://web.archive.org/web/*/https://example.com/?a=1#b\n", ""}},
        {{"wayback", "mailto:someone@example.com"},
         {1, "", "tessaril: not an http(s) link with a host: mailto:someone@example.com\n"}},
        // The link is cleaned first, then both privacy rewrites apply, whatever the stored switches say.
        {{"share", "--context", " worth a read ", "https://x.com/a/status/1?utm_source=x"},
         {0, "https://x.com/a/status/1\nworth a read\n\nPrivacy link: https://xcancel.com/a/status/1\n", ""}},
        {{"share", "--context", "ignored", "https://www.reddit.com/r/cpp/comments/abc/my_post/?utm_source=share"},
         prints(0,
                "my post\nhttps://www.reddit.com/r/cpp/comments/abc/my_post/\n\n"
                "Privacy link: https://safereddit.com/r/cpp/comments/abc/my_post/\n")},
        {{"share", "https://example.com/?utm_source=x"},
         {1, "",
          "tessaril: not an X or Reddit web link, or one on a site exception: https://example.com/?utm_source=x\n"}},
        {{"report", "just words"}, {1, "", "tessaril: not a web link: just words\n"}},
        {{"report", "--mailto", longLink},
         {1, "",
          "tessaril: the report is longer than an e-mail link can carry (8192 characters); print it without --mailto "
          "and send it as text\n"}},
        {{"share", "--rules", (root_ / "absent").string(), "https://x.com/a"},
         {3, "", "tessaril: cannot read " + (root_ / "absent/data.min.json").string() + "\n"}},
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(invoke(arguments), expected) << arguments.front() << " " << arguments.back();

    ASSERT_EQ(invoke({"exceptions", "add", "example.org"}).status, 0);
    EXPECT_EQ(invoke({"report", "https://example.org/?utm_source=x"}),
              (Invocation{1, "", "tessaril: example.org is a site exception, so its links are not cleaned\n"}));
}

TEST_F(LinkCommandsTest, ReportDescribesTheCleanAndThisTool) {
    const auto report = invoke({"report", "--note", "zz stayed", "https://example.com/?utm_source=x&zz=1"});
    ASSERT_EQ(report.status, 0) << report.err;
    for (const std::string& part :
         {"User note:\nzz stayed\n\nOriginal URL:\nhttps://example.com/?utm_source=x&zz=1\n\nCleaned URL:\n"
          "https://example.com/?zz=1\n\nPlatform:\nLinux "s,
          "\n\nApp version:\n"s + TESSARIL_TEST_VERSION + "\n\nSurface:\nManual Clean\n\nParams removed:\n1\n",
          "\"platform\": \"Linux\""s})
        EXPECT_NE(report.out.find(part), std::string::npos) << part;
    // A link with nothing removed is reported as it is.
    const auto mailto = invoke({"report", "--mailto", "https://example.com/"});
    EXPECT_EQ(mailto.status, 0);
    EXPECT_TRUE(
        mailto.out.starts_with("mailto:missed-trackers@tessaril.app?subject=%5BMissed%20Tracker%5D%20example.com"
                               "%20-%20Linux%20-%20v"))
        << mailto.out;
    EXPECT_NE(mailto.out.find("Params%20removed:%0A0%0A"), std::string::npos);
}

}  // namespace
}  // namespace tessaril
