// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/paths/XdgPaths.h"
#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

using StoreCommandsTest = testing::ToolTest;
using testing::Invocation;

TEST_F(StoreCommandsTest, BlocklistEditsListAndRefusals) {
    EXPECT_EQ(invoke({"blocklist", "list"}).out, "");
    ASSERT_EQ(invoke({"blocklist", "add", "utm_x"}).status, 0);
    ASSERT_EQ(invoke({"blocklist", "add", "ref", "--site", "Shop.Example.com"}), (Invocation{0, "", ""}));
    EXPECT_EQ(invoke({"blocklist", "list"}).out, "*:utm_x\nshop.example.com:ref\n");

    EXPECT_EQ(invoke({"blocklist", "add", "ref", "--site", "shop.example.com"}),
              (Invocation{1, "", "This rule already exists. A global rule also covers every site.\n"}));
    EXPECT_EQ(invoke({"blocklist", "add", "a=b"}),
              (Invocation{1, "",
                          "Use an exact parameter name, 1 to 64 ASCII letters, digits, _, ., ~ or -. No patterns or "
                          "values.\n"}));
    EXPECT_EQ(
        invoke({"blocklist", "remove", "ref", "--site", "https://shop.example.com"}),
        (Invocation{1, "", "Enter an exact hostname such as example.com, without a URL, port, path or wildcard.\n"}));

    ASSERT_EQ(invoke({"blocklist", "remove", "ref", "--site", "SHOP.example.com"}).status, 0);
    EXPECT_EQ(invoke({"blocklist", "list"}).out, "*:utm_x\n");
    // Removing what is not there is said, not passed over.
    EXPECT_EQ(invoke({"blocklist", "remove", "ref", "--site", "shop.example.com"}),
              (Invocation{1, "", "tessaril: the blocklist has no rule shop.example.com:ref\n"}));
    EXPECT_EQ(invoke({"blocklist", "remove", "utm_y"}),
              (Invocation{1, "", "tessaril: the blocklist has no rule *:utm_y\n"}));
    // The tray application reads the same list.
    {
        auto defaults = SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()));
        CustomBlocklistStore store(*defaults);
        EXPECT_TRUE(store.blocks("utm_x", "any.org"));
        EXPECT_TRUE(store.canUndo());
    }
    ASSERT_EQ(invoke({"blocklist", "undo"}).status, 0);
    EXPECT_EQ(invoke({"blocklist", "list"}).out, "*:utm_x\nshop.example.com:ref\n");
    EXPECT_EQ(invoke({"blocklist", "undo"}), (Invocation{1, "", "There is no blocklist change to undo.\n"}));

    EXPECT_EQ(invoke({"blocklist"}).status, 2);
    EXPECT_EQ(invoke({"blocklist", "add"}).status, 2);
}

TEST_F(StoreCommandsTest, ExceptionsByHostOrLink) {
    ASSERT_EQ(invoke({"exceptions", "add", "  WWW.Example.com"}).status, 0);
    ASSERT_EQ(invoke({"exceptions", "add", "https://www.other.org/page?utm_source=x"}).status, 0);
    ASSERT_EQ(invoke({"exceptions", "add", "example.com"}).status, 0);
    ASSERT_EQ(invoke({"exceptions", "add", "https://[2001:DB8::1]:8443/"}).status, 0);
    ASSERT_EQ(invoke({"exceptions", "add", "B\u00FCcher.example"}).status, 0);
    EXPECT_EQ(invoke({"exceptions", "list"}).out, "example.com\nother.org\n[2001:db8::1]\nxn--bcher-kva.example\n");

    ASSERT_EQ(invoke({"exceptions", "remove", "http://example.com/"}).status, 0);
    ASSERT_EQ(invoke({"exceptions", "remove", "[2001:db8:0::1]"}).status, 0);
    EXPECT_EQ(invoke({"exceptions", "remove", "absent.net"}),
              (Invocation{1, "", "tessaril: absent.net is not a site exception\n"}));
    EXPECT_EQ(invoke({"exceptions", "list"}).out, "other.org\nxn--bcher-kva.example\n");
    {
        auto defaults = SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()));
        EXPECT_TRUE(DomainExceptionStore(*defaults).isDisabledURL("https://other.org/"));
    }

    EXPECT_EQ(invoke({"exceptions", "add", " "}), (Invocation{2, "", "tessaril: the host is empty\n"}));
    // Only host names, or links to one, are taken: nothing else could ever match a link.
    const std::string refusal = "Enter a host name such as example.com, or a web link to the site.\n";
    for (const std::string& invalid :
         {std::string("evil.com\nother.org"), std::string("*.x"), std::string("http://"),
          std::string("javascript:alert(1)"), std::string(100 * 1024, 'a'), std::string("http://localhost/")}) {
        EXPECT_EQ(invoke({"exceptions", "add", invalid}), (Invocation{1, "", refusal})) << invalid.substr(0, 40);
        EXPECT_EQ(invoke({"exceptions", "remove", invalid}), (Invocation{1, "", refusal})) << invalid.substr(0, 40);
    }
    EXPECT_EQ(invoke({"exceptions", "list"}).out, "other.org\nxn--bcher-kva.example\n");
}

}  // namespace
}  // namespace tessaril
