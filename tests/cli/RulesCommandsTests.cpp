// SPDX-License-Identifier: GPL-3.0-or-later
// The rules commands' own part: arguments, messages, exit statuses, output and one store transaction
// per edit. What the engine does with switches, custom rules and imports is tested in its own suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/paths/XdgPaths.h"
#include "tests/cli/ToolTest.h"
#include "tests/support/CaseTable.h"

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using testing::Invocation;

class RulesCommandsTest : public testing::ToolTest {
protected:
    // The three documents the rules engine keeps, read straight from the file the tray app uses.
    static std::map<std::string, std::optional<std::string>> stored() {
        auto defaults = SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()));
        std::map<std::string, std::optional<std::string>> documents;
        for (const char* key : {"rulesEngine_enabledState", "rulesEngine_customRules", "rulesEngine_matchCounts"})
            documents[key] = defaults->dataText(key);
        return documents;
    }
    static void store(const std::string& key, const std::string& json) {
        SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()))->setDataText(key, json);
    }
};

TEST_F(RulesCommandsTest, ListShowsSwitchesAndCountsAsTableOrJson) {
    const auto rules = writeFile("rules/data.min.json", R"({"providers":{}})").parent_path().string();
    ASSERT_EQ(invoke({"rules", "list", "--category", "Email-Marketing", "--rules", rules}).status, 0);
    // Looking creates no preferences file.
    EXPECT_FALSE(fs::exists(defaultDefaultsFile(XdgPaths())));

    store("rulesEngine_enabledState", R"({"cat:Advertising":false,"rule:Advertising:gclid":false})");
    store("rulesEngine_matchCounts",
          R"({"cat:Advertising":1,"rule:Advertising:gclid":5,"rule:Advertising:msclkid":12})");
    EXPECT_EQ(invoke({"rules", "list", "--category", "advertising", "--rules", rules}),
              prints(0,
                     "Advertising: off, 1 match, 2 of 3 rules on\n"
                     "  off   5  Built-in  Advertising:gclid    gclid\n"
                     "  on    0  Built-in  Advertising:gclsrc   gclsrc\n"
                     "  on   12  Built-in  Advertising:msclkid  msclkid\n"));
    const auto json = nlohmann::json::parse(invoke({"rules", "list", "--json", "--category", "ADVERTISING"}).out);
    ASSERT_EQ(json.size(), 1U);
    EXPECT_EQ(json[0]["isEnabled"], false);
    EXPECT_EQ(json[0]["matchCount"], 1);
    EXPECT_EQ(json[0]["ruleCount"], json[0]["rules"].size());

    EXPECT_EQ(
        invoke({"rules", "list", "--category", "Tracking"}),
        (Invocation{2, "",
                    "tessaril: unknown category \"Tracking\"; the categories are \"Analytics\", \"Social Media\", "
                    "\"Advertising\", \"Referral Marketing\", \"Redirect Unwrapping\", \"E-commerce\", "
                    "\"Email Marketing\", \"Custom\"\n"}));
    const auto absent = (root_ / "absent").string();
    EXPECT_EQ(invoke({"rules", "export", "--rules", absent}),
              (Invocation{3, "", "tessaril: cannot read " + absent + "/data.min.json\n"}));
    const auto broken = writeFile("broken/data.min.json", R"({"rules":[]})");
    EXPECT_EQ(
        invoke({"rules", "export", "--rules", broken.parent_path().string()}),
        (Invocation{3, "",
                    "Warning: Could not decode rules JSON\ntessaril: " + broken.string() + " is not a rule file\n"}));
}

// What rule files and links bring is shown, escaped, never acted on by the terminal; a broken
// supplementary file beside the main one is passed over.
TEST_F(RulesCommandsTest, TextFromRuleFilesAndLinksIsShownEscaped) {
    const auto rules = writeFile("rules/data.min.json", R"({"providers":{"evil\u001b[2J":{"urlPattern":)"
                                                        R"("^https?://example\\.com/","rules":["x\u202ey"]}}})");
    writeFile("rules/tessaril-supplementary.json", "{broken");
    const std::string directory = rules.parent_path().string();
    const auto listed = invoke({"rules", "list", "--category", "Analytics", "--rules", directory});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("Analytics:x\\u202ey  evil\\x1b[2J: x\\u202ey\n"), std::string::npos) << listed.out;
    EXPECT_EQ(invoke({"rules", "explain", "https://example.com/?x%E2%80%AEy=1&utm_%1B%5B2J=2", "--rules", directory}),
              prints(0,
                     "providers: 1 apply, 1 act on the link (--all lists every one)\n"
                     "  evil\\x1b[2J (Analytics, ClearURLs)\n    x\\u202ey: Analytics:x\\u202ey\n"
                     "built-in and custom rules:\n  utm_\\x1b[2J: Analytics:utm_*\n"));
}

// A link the path rules cut is explained again as the link they leave, as the cleaner cleans it:
// here its own provider excepts it and another one takes the parameter.
TEST_F(RulesCommandsTest, ExplainFollowsTheCutLink) {
    const auto rules = writeFile("rules/data.min.json",
                                 R"({"providers":{"shop":{"urlPattern":"^https?://s\\.example/","rules":["crid"],)"
                                 R"("rawRules":["/ref=[^/?]*"],"exceptions":["^https?://s\\.example/s\\?"]},)"
                                 R"("shop search":{"urlPattern":"^https?://s\\.example/s\\?","rules":["crid"]}}})");
    const std::string directory = rules.parent_path().string();
    EXPECT_EQ(invoke({"rules", "explain", "https://s.example/s/ref=x?crid=1", "--rules", directory}),
              prints(0,
                     "providers: 1 apply, 1 act on the link (--all lists every one)\n"
                     "  shop (Analytics, ClearURLs)\n    path rules cut part of the link\n    crid: Analytics:crid\n"
                     "built-in and custom rules:\n"
                     "\nafter the path rules, https://s.example/s?crid=1:\n"
                     "providers: 2 apply, 2 act on the link (--all lists every one)\n"
                     "  shop (Analytics, ClearURLs): exception, not applied\n"
                     "  shop search (Analytics, ClearURLs)\n    crid: Analytics:crid\n"
                     "built-in and custom rules:\n"));
    EXPECT_EQ(invoke({"https://s.example/s/ref=x?crid=1", "-q", "--rules", directory}),
              prints(0, "https://s.example/s\n"));
}

// With rules from several lists, both commands show where each rule comes from and select by list
// and category.
TEST_F(RulesCommandsTest, ListAndExplainSelectBySourceAndCategory) {
    const auto rules = writeFile("rules/data.min.json", R"({"providers":{"pub":{"urlPattern":"^https?://a\\.example/",)"
                                                        R"("rules":["ref"],"referralMarketing":["aff"]}}})");
    writeFile("rules/tessaril-supplementary.json",
              R"({"providers":{"ours":{"urlPattern":"^https?://","rules":["fbx"],"source":"Tessaril"},)"
              R"("list":{"urlPattern":"^https?://","rules":["ab\u001b"],"source":"Other List"}}})");
    const std::string directory = rules.parent_path().string();
    const auto cases = testing::readCases("cli/rules-by-source.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        auto arguments = row[0].get<std::vector<std::string>>();
        std::replace(arguments.begin(), arguments.end(), std::string("{rules}"), directory);
        EXPECT_EQ(invoke(arguments),
                  (Invocation{row[1].get<int>(), row[2].get<std::string>(), row[3].get<std::string>()}))
            << row[0];
    }
    const auto json =
        nlohmann::json::parse(invoke({"rules", "list", "--json", "--source", "tessaril", "--rules", directory}).out);
    ASSERT_EQ(json.size(), 1U);
    EXPECT_EQ(json[0]["rules"][0]["origin"], "Tessaril");
    EXPECT_EQ(json[0]["rules"][0]["source"], "ClearURLs");
}

// Switches and custom rules: what each edit prints and why a refused one changed nothing.
TEST_F(RulesCommandsTest, EditsSayWhatTheyDidOrWhyNot) {
    ASSERT_EQ(invoke({"rules", "disable", "advertising"}), (Invocation{0, "", ""}));
    EXPECT_EQ(invoke({"rules", "enable", "Advertising:gclid"}),
              (Invocation{0, "",
                          "tessaril: note: the category \"Advertising\" is off, so this rule does nothing until the "
                          "category is enabled\n"}));
    EXPECT_EQ(invoke({"rules", "disable", "emailmarketing:mc_cid"}), (Invocation{0, "", ""}));
    EXPECT_EQ(invoke({"rules", "add", "a.b*"}), (Invocation{0, "Custom:a.b*\n", ""}));
    EXPECT_EQ(invoke({"rules", "add", "src_ref", "--name", "Referrer", "--category", "analytics"}),
              (Invocation{0, "Analytics:src_ref\n", ""}));
    // The tray application reads the same switches.
    EXPECT_EQ(nlohmann::json::parse(stored()["rulesEngine_enabledState"].value_or("{}"))["cat:Advertising"], false);
    // A custom rule's switch lasts beyond the edit that set it, as a shipped rule's does.
    ASSERT_EQ(invoke({"rules", "disable", "Analytics:src_ref"}), (Invocation{0, "", ""}));
    EXPECT_EQ(nlohmann::json::parse(invoke({"rules", "list", "--json", "--category", "Analytics"}).out)[0]["rules"]
                  .back()["isEnabled"],
              false);

    const auto before = stored();
    const auto refused = testing::readCases("cli/refused-rule-edits.json");
    ASSERT_FALSE(refused.empty());
    for (const auto& row : refused) {
        const auto run = invoke(row[0].get<std::vector<std::string>>());
        EXPECT_EQ(run.status, row[1]) << row[0];
        if (!row[2].is_null()) {
            EXPECT_EQ(run, (Invocation{row[1].get<int>(), "", row[2].get<std::string>()})) << row[0];
        }
    }
    EXPECT_EQ(invoke({"rules", "add", "bad\xff"}).status, 2);
    EXPECT_EQ(invoke({"rules", "add", "x", "--name", std::string(300, 'n')}),
              (Invocation{2, "", "tessaril: the display name is longer than 256 bytes\n"}));
    EXPECT_EQ(stored(), before);
    EXPECT_EQ(invoke({"rules", "remove", "Custom:a.b*"}), (Invocation{0, "", ""}));
    EXPECT_EQ(nlohmann::json::parse(stored()["rulesEngine_customRules"].value_or("[]")).size(), 1U);
    // Each reset removes its half from the store and keeps the other.
    store("rulesEngine_matchCounts", R"({"cat:Advertising":4})");
    ASSERT_EQ(invoke({"rules", "reset"}), (Invocation{0, "", ""}));
    EXPECT_EQ(stored()["rulesEngine_customRules"], std::nullopt);
    EXPECT_TRUE(stored()["rulesEngine_matchCounts"].has_value());
    ASSERT_EQ(invoke({"rules", "reset-counts"}), (Invocation{0, "", ""}));
    EXPECT_EQ(stored()["rulesEngine_matchCounts"], std::nullopt);
}

// The export carries switches and custom rules, a custom rule's own switch too.
TEST_F(RulesCommandsTest, ExportImportsOnAnotherMachineAndSaysWhatChanged) {
    ASSERT_EQ(invoke({"rules", "add", "x_track", "--name", "X tracker"}).status, 0);
    ASSERT_EQ(invoke({"rules", "add", "y.id", "--category", "Analytics"}).status, 0);
    ASSERT_EQ(invoke({"rules", "disable", "Email Marketing"}).status, 0);
    ASSERT_EQ(invoke({"rules", "disable", "Custom:x_track"}).status, 0);
    const auto exported = invoke({"rules", "export"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const std::string file = writeFile("settings.json", exported.out).string();

    useHome(root_ / "elsewhere");
    EXPECT_EQ(invoke({"rules", "import", file}),
              (Invocation{0, "Imported " + file + ": 2 custom rules added, 1 category switch changed\n", ""}));
    EXPECT_EQ(invoke({"rules", "export"}).out, exported.out);
    EXPECT_EQ(invoke({"rules", "import", file}),
              (Invocation{0, "Imported " + file + ": 0 custom rules added, 0 category switches changed\n", ""}));
}

// A hostile or broken import is refused whole, says why (quoting the file's name escaped), and
// changes nothing in the store.
TEST_F(RulesCommandsTest, BadImportsChangeNothing) {
    ASSERT_EQ(invoke({"rules", "add", "mine"}).status, 0);
    ASSERT_EQ(invoke({"rules", "disable", "Social Media"}).status, 0);
    store("rulesEngine_matchCounts", R"({"cat:Analytics":3})");
    const auto before = stored();
    const auto exported = invoke({"rules", "export"}).out;
    // The export with a good change to the first category, which must not reach the store when a
    // later part is bad. (Which documents are refused, and that the engine is left as it was, the
    // rule-file fuzzer checks on any bytes.)
    auto good = nlohmann::json::parse(exported);
    good[0]["isEnabled"] = false;
    auto wrongType = good;
    wrongType[6]["type"] = "Tracking";
    auto tooMany = good;
    for (int i = 0; i < 600; ++i) {
        auto rule = good[7]["rules"][0];  // the custom rule "mine", renamed
        rule["id"] = "Custom:x" + std::to_string(i);
        rule["pattern"] = rule["displayName"] = "x" + std::to_string(i);
        tooMany[7]["rules"].push_back(rule);
    }
    const std::string refused = "tessaril: nothing was imported: ";
    const std::pair<std::string, std::string> bad[] = {
        {"Not JSON at all", ""},
        {std::string(200000, '[') + std::string(200000, ']'), ""},
        {wrongType.dump(), ": entry 7 is "},
        {tooMany.dump(), ": that would make 601 custom rules; at most 500 are kept\n"},
    };
    const std::string shown = refused + root_.string() + "/bad\\x1b[2J.json: ";
    for (const auto& [content, reason] : bad) {
        const auto result = invoke({"rules", "import", writeFile("bad\x1b[2J.json", content).string()});
        EXPECT_EQ(result.status, 1) << content.substr(0, 80);
        EXPECT_TRUE(result.err.starts_with(shown) && result.err.find(reason) != std::string::npos)
            << result.err.substr(0, 200);
    }
    const fs::path huge = root_ / "huge.json";
    std::ofstream(huge).put('[');
    fs::resize_file(huge, 50U * 1000 * 1000);
    EXPECT_EQ(invoke({"rules", "import", huge.string()}),
              (Invocation{1, "", refused + huge.string() + " is larger than 16 MB, far more than a rules export\n"}));
    const auto absent = (root_ / "absent.json").string();
    EXPECT_EQ(invoke({"rules", "import", absent}), (Invocation{1, "", refused + "cannot find " + absent + "\n"}));
    EXPECT_EQ(invoke({"rules", "import", root_.string()}),
              (Invocation{1, "", refused + root_.string() + " is not a regular file\n"}));
    EXPECT_EQ(stored(), before);
}

}  // namespace
}  // namespace tessaril
