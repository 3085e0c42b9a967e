// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

using StoreCommandsTest = testing::ToolTest;
using testing::Invocation;

TEST_F(StoreCommandsTest, BlocklistEditsListAndRefusals) {
    EXPECT_EQ(invoke({"blocklist", "list"}), (Invocation{0, "", ""}));
    ASSERT_EQ(invoke({"blocklist", "add", "utm_x"}), (Invocation{0, "", ""}));
    ASSERT_EQ(invoke({"blocklist", "add", "ref", "--site", "Shop.Example.com"}), (Invocation{0, "", ""}));
    EXPECT_EQ(invoke({"blocklist", "list"}).out, "*:utm_x\nshop.example.com:ref\n");

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"add", "ref", "--site", "shop.example.com"},
         "This rule already exists. A global rule also covers every site."},
        {{"add", "a=b"},
         "Use an exact parameter name, 1 to 64 ASCII letters, digits, _, ., ~ or -. No patterns or values."},
        {{"remove", "ref", "--site", "https://shop.example.com"},
         "Enter an exact hostname such as example.com, without a URL, port, path or wildcard."},
        // Removing what is not there is said, not passed over.
        {{"remove", "ref"}, "tessaril: the blocklist has no rule *:ref"},
        {{"remove", "ref", "--site", "other.example.com"}, "tessaril: the blocklist has no rule other.example.com:ref"},
    };
    for (auto [arguments, message] : refused) {
        arguments.insert(arguments.begin(), "blocklist");
        EXPECT_EQ(invoke(arguments), (Invocation{1, "", message + "\n"})) << message;
    }
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
    // Only host names, or links to one, are taken: nothing else could ever match a link.
    const Invocation refused{1, "", "Enter a host name such as example.com, or a web link to the site.\n"};
    for (const std::string& invalid : {std::string("evil.com\nother.org"), std::string("*.x"), std::string("http://"),
                                       std::string("javascript:alert(1)"), std::string("http://localhost/")}) {
        EXPECT_EQ(invoke({"exceptions", "add", invalid}), refused) << invalid;
        EXPECT_EQ(invoke({"exceptions", "remove", invalid}), refused) << invalid;
    }
    EXPECT_EQ(invoke({"exceptions", "list"}).out, "other.org\n");
}

}  // namespace
}  // namespace tessaril
