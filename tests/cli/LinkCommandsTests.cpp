// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/cli/ToolTest.h"
#include "tests/support/CaseTable.h"

namespace tessaril {
namespace {

using LinkCommandsTest = testing::ToolTest;
using testing::Invocation;
using Strings = std::vector<std::string>;
using namespace std::string_literals;

TEST_F(LinkCommandsTest, EachCommandPrintsItsAnswerOrSaysWhyNot) {
    const auto cases = testing::readCases("cli/link-commands.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const auto arguments = row[0].get<Strings>();
        EXPECT_EQ(invoke(arguments),
                  (Invocation{row[1].get<int>(), row[2].get<std::string>(), row[3].get<std::string>()}))
            << arguments.front() << " " << arguments.back();
    }
    EXPECT_EQ(invoke({"report", "--mailto", "https://example.com/?id=" + std::string(9000, 'x')}),
              (Invocation{1, "",
                          "tessaril: the report is longer than an e-mail link can carry (8192 characters); print it "
                          "without --mailto and send it as text\n"}));
    EXPECT_EQ(invoke({"share", "--rules", (root_ / "absent").string(), "https://x.com/a"}),
              (Invocation{3, "", "tessaril: cannot read " + (root_ / "absent/data.min.json").string() + "\n"}));

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
