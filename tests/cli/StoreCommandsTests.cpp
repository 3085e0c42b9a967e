// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "tests/cli/ToolTest.h"
#include "tests/support/CaseTable.h"

namespace tessaril {
namespace {

using StoreCommandsTest = testing::ToolTest;
using testing::Invocation;

TEST_F(StoreCommandsTest, BlocklistEditsListAndRefusalsOfEitherList) {
    EXPECT_EQ(invoke({"blocklist", "list"}), (Invocation{0, "", ""}));
    ASSERT_EQ(invoke({"blocklist", "add", "utm_x"}), (Invocation{0, "", ""}));
    ASSERT_EQ(invoke({"blocklist", "add", "ref", "--site", "Shop.Example.com"}), (Invocation{0, "", ""}));
    EXPECT_EQ(invoke({"blocklist", "list"}).out, "*:utm_x\nshop.example.com:ref\n");

    ASSERT_EQ(invoke({"exceptions", "add", "other.org"}), (Invocation{0, "", ""}));
    const auto refused = testing::readCases("cli/refused-list-edits.json");
    ASSERT_FALSE(refused.empty());
    for (const auto& row : refused) {
        EXPECT_EQ(invoke(row[0].get<std::vector<std::string>>()),
                  (Invocation{row[1].get<int>(), "", row[2].get<std::string>()}))
            << row[0];
    }
    EXPECT_EQ(invoke({"exceptions", "list"}).out, "other.org\n");
    ASSERT_EQ(invoke({"blocklist", "remove", "ref", "--site", "SHOP.example.com"}), (Invocation{0, "", ""}));
    EXPECT_EQ(invoke({"blocklist", "list"}).out, "*:utm_x\n");
    ASSERT_EQ(invoke({"blocklist", "undo"}), (Invocation{0, "", ""}));
    EXPECT_EQ(invoke({"blocklist", "list"}).out, "*:utm_x\nshop.example.com:ref\n");
    EXPECT_EQ(invoke({"blocklist", "undo"}), (Invocation{1, "", "There is no blocklist change to undo.\n"}));
}

// A site is named by its host or by a link to it (which forms of either mean the same site, the
// store's tests say).
TEST_F(StoreCommandsTest, ExceptionsByHostOrLink) {
    for (const char* site : {"  WWW.Example.com", "https://www.other.org/page?utm_source=x", "example.com"})
        ASSERT_EQ(invoke({"exceptions", "add", site}), (Invocation{0, "", ""})) << site;
    EXPECT_EQ(invoke({"exceptions", "list"}).out, "example.com\nother.org\n");
    ASSERT_EQ(invoke({"exceptions", "remove", "http://example.com/"}).status, 0);
    EXPECT_EQ(invoke({"exceptions", "remove", "absent.net"}),
              (Invocation{1, "", "tessaril: absent.net is not a site exception\n"}));
    EXPECT_EQ(invoke({"exceptions", "add", " "}), (Invocation{2, "", "tessaril: the host is empty\n"}));
    EXPECT_EQ(invoke({"exceptions", "list"}).out, "other.org\n");
}

}  // namespace
}  // namespace tessaril
