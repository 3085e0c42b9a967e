// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/paths/XdgPaths.h"
#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

namespace fs = std::filesystem;

class CommandLineTest : public testing::ToolTest {
protected:
    fs::path writeRules(const std::string& mainText) const {
        return writeFile("rules/data.min.json", mainText).parent_path();
    }
};

const std::string kSmallRules =
    R"({"providers":{"ebay":{"urlPattern":"^https?://(?:[a-z0-9-]+\\.)*?ebay\\.com/","rules":["ref"],"referralMarketing":["tag"]}}})";

TEST_F(CommandLineTest, VersionHelpAndUsageErrors) {
    const auto version = invoke({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("tessaril ") + TESSARIL_TEST_VERSION + "\n");

    const auto help = invoke({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("rules"), std::string::npos);

    EXPECT_EQ(invoke({"--no-such-option"}).status, 2);
    EXPECT_EQ(invoke({"rules"}).status, 2);
    EXPECT_EQ(invoke({"rules", "explain"}).status, 2);
}

TEST_F(CommandLineTest, UnreadableRulesExitWithThree) {
    const auto missing = invoke({"rules", "export", "--rules", (root_ / "absent").string()});
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos);

    const auto broken = invoke({"rules", "export", "--rules", writeRules("not json").string()});
    EXPECT_EQ(broken.status, 3);
    EXPECT_TRUE(broken.out.empty());
    EXPECT_NE(broken.err.find("Warning: Could not decode rules JSON"), std::string::npos);

    EXPECT_EQ(invoke({"rules", "export", "--rules", writeRules(R"({"rules":[]})").string()}).status, 3);
}

TEST_F(CommandLineTest, ExportAppliesStoredSwitches) {
    const fs::path rules = writeRules(kSmallRules);
    {
        auto defaults = SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()));
        defaults->setDataText("rulesEngine_enabledState", R"({"cat:Advertising":false,"rule:E-commerce:ref":false})");
    }
    const auto result = invoke({"rules", "export", "--rules", rules.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto document = nlohmann::json::parse(result.out);
    ASSERT_EQ(document.size(), 8U);
    EXPECT_EQ(document[2]["type"], "Advertising");
    EXPECT_EQ(document[2]["isEnabled"], false);
    const auto& ecommerce = document[5];
    ASSERT_EQ(ecommerce["type"], "E-commerce");
    ASSERT_FALSE(ecommerce["rules"].empty());
    EXPECT_EQ(ecommerce["rules"][0]["id"], "E-commerce:ref");
    EXPECT_EQ(ecommerce["rules"][0]["isEnabled"], false);
}

TEST_F(CommandLineTest, ShippedRulesExportAndExplain) {
    const auto exported = invoke({"rules", "export"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const auto document = nlohmann::json::parse(exported.out);
    ASSERT_EQ(document.size(), 8U);
    std::size_t rules = 0;
    for (const auto& category : document)
        rules += category["rules"].size();
    EXPECT_GT(rules, 700U);

    const auto explained =
        invoke({"rules", "explain", "https://www.amazon.com/dp/B0?tag=deals-20&utm_source=x&keywords=usb"});
    ASSERT_EQ(explained.status, 0) << explained.err;
    EXPECT_NE(explained.out.find("amazon (E-commerce)"), std::string::npos) << explained.out;
    EXPECT_NE(explained.out.find("tag: Referral Marketing:tag"), std::string::npos) << explained.out;
    EXPECT_NE(explained.out.find("utm_source: Analytics:"), std::string::npos) << explained.out;
}

}  // namespace
}  // namespace tessaril
