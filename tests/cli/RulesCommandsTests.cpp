// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/paths/XdgPaths.h"
#include "tests/cli/ToolTest.h"

namespace tessaril {
namespace {

namespace fs = std::filesystem;

using Stored = std::map<std::string, std::optional<std::string>>;
using testing::Invocation;

class RulesCommandsTest : public testing::ToolTest {
protected:
    // The three documents the rules engine keeps, read straight from the file the tray app uses.
    static Stored stored() {
        auto defaults = SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()));
        Stored documents;
        for (const char* key : {"rulesEngine_enabledState", "rulesEngine_customRules", "rulesEngine_matchCounts"})
            documents[key] = defaults->dataText(key);
        return documents;
    }
    static void store(const std::string& key, const std::string& json) {
        SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()))->setDataText(key, json);
    }
    static nlohmann::json category(const std::string& name) {
        const auto listed = invoke({"rules", "list", "--json", "--category", name});
        EXPECT_EQ(listed.status, 0) << listed.err;
        const auto document = nlohmann::json::parse(listed.out, nullptr, false);
        return document.is_array() && document.size() == 1 ? document[0] : nlohmann::json();
    }
    static const nlohmann::json* rule(const nlohmann::json& category, const std::string& id) {
        for (const auto& entry : category["rules"]) {
            if (entry["id"] == id) return &entry;
        }
        return nullptr;
    }
};

TEST_F(RulesCommandsTest, ListShowsSwitchesAndCountsAsTableOrJson) {
    const auto fresh = invoke({"rules", "list"});
    ASSERT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_NE(fresh.out.find("Analytics: on, 0 matches, "), std::string::npos);
    EXPECT_NE(fresh.out.find("\nCustom: on, 0 matches, no rules\n"), std::string::npos) << fresh.out;
    // Looking creates no preferences file.
    EXPECT_FALSE(fs::exists(defaultDefaultsFile(XdgPaths())));

    store("rulesEngine_enabledState", R"({"cat:Advertising":false,"rule:Advertising:gclid":false})");
    store("rulesEngine_matchCounts",
          R"({"cat:Advertising":7,"rule:Advertising:gclid":5,"rule:Advertising:msclkid":12})");
    const auto table = invoke({"rules", "list", "--category", "advertising"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(table.out.rfind("Advertising: off, 7 matches, ", 0), 0U) << table.out;
    EXPECT_EQ(table.out.find("Analytics"), std::string::npos);
    // Every rule line keeps its columns, whatever the width of its count.
    std::optional<std::size_t> idColumn;
    int gclidLines = 0;
    for (const auto& line : lines(table.out)) {
        if (line.rfind("  ", 0) != 0) continue;
        std::istringstream fields(line);
        std::string state, count, source, id;
        fields >> state >> count >> source >> id;
        const auto column = line.find(" " + id + " ") + 1;
        if (!idColumn) idColumn = column;
        EXPECT_EQ(column, *idColumn) << line;
        if (id == "Advertising:gclid") {
            ++gclidLines;
            EXPECT_EQ(state + count + source, "off5Built-in") << line;
            EXPECT_EQ(line.find(" 5  "), std::string("  off  ").size()) << line;
        }
    }
    EXPECT_EQ(gclidLines, 1);

    const auto advertising = category("Advertising");
    EXPECT_EQ(advertising["isEnabled"], false);
    EXPECT_EQ(advertising["matchCount"], 7);
    EXPECT_EQ(advertising["ruleCount"], advertising["rules"].size());
    ASSERT_NE(rule(advertising, "Advertising:msclkid"), nullptr);
    EXPECT_EQ((*rule(advertising, "Advertising:msclkid"))["matchCount"], 12);
    EXPECT_EQ(category("SOCIAL MEDIA")["id"], "Social Media");
    EXPECT_EQ(category("e-commerce")["id"], "E-commerce");

    EXPECT_EQ(
        invoke({"rules", "list", "--category", "Tracking"}),
        (Invocation{2, "",
                    "tessaril: unknown category \"Tracking\"; the categories are \"Analytics\", \"Social Media\", "
                    "\"Advertising\", \"Referral Marketing\", \"Redirect Unwrapping\", \"E-commerce\", "
                    "\"Email Marketing\", \"Custom\"\n"}));
    EXPECT_EQ(invoke({"rules", "list", "--category"}).status, 2);
}

TEST_F(RulesCommandsTest, UnreadableRuleFilesExitWithThree) {
    const auto absent = (root_ / "absent").string();
    EXPECT_EQ(invoke({"rules", "export", "--rules", absent}),
              (Invocation{3, "", "tessaril: cannot read " + absent + "/data.min.json\n"}));
    for (const std::string text : {"not json", R"({"rules":[]})"}) {
        const auto file = writeFile("rules/data.min.json", text);
        EXPECT_EQ(
            invoke({"rules", "export", "--rules", file.parent_path().string()}),
            (Invocation{3, "",
                        "Warning: Could not decode rules JSON\ntessaril: " + file.string() + " is not a rule file\n"}))
            << text;
    }
    EXPECT_EQ(invoke({"rules", "explain"}).status, 2);
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
    const auto explained =
        invoke({"rules", "explain", "https://example.com/?x%E2%80%AEy=1&utm_%1B%5B2J=2", "--rules", directory});
    ASSERT_EQ(explained.status, 0) << explained.err;
    EXPECT_EQ(explained.out,
              "providers: 1\n  evil\\x1b[2J (Analytics)\n    x\\u202ey: Analytics:x\\u202ey\n"
              "built-in and custom rules:\n  utm_\\x1b[2J: Analytics:utm_*\n");
}

// The switches the tray application stored apply to whichever rule files are loaded.
TEST_F(RulesCommandsTest, ExportAppliesStoredSwitchesToOtherRuleFiles) {
    const auto rules = writeFile("rules/data.min.json", R"({"providers":{"ebay":{"urlPattern":)"
                                                        R"("^https?://(?:[a-z0-9-]+\\.)*?ebay\\.com/",)"
                                                        R"("rules":["ref"],"referralMarketing":["tag"]}}})");
    store("rulesEngine_enabledState", R"({"cat:Advertising":false,"rule:E-commerce:ref":false})");
    const auto result = invoke({"rules", "export", "--rules", rules.parent_path().string()});
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

TEST_F(RulesCommandsTest, ShippedRulesExportAndExplain) {
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

TEST_F(RulesCommandsTest, EnableAndDisableCategoriesAndRules) {
    ASSERT_EQ(invoke({"rules", "disable", "Email Marketing"}).status, 0);
    ASSERT_EQ(invoke({"rules", "disable", "advertising:gclid"}).status, 0);
    EXPECT_EQ(category("Email Marketing")["isEnabled"], false);
    EXPECT_EQ((*rule(category("Advertising"), "Advertising:gclid"))["isEnabled"], false);
    // The tray application reads the same switches.
    const auto switches = nlohmann::json::parse(stored()["rulesEngine_enabledState"].value_or("{}"));
    EXPECT_EQ(switches["cat:Email Marketing"], false);
    EXPECT_EQ(switches["rule:Advertising:gclid"], false);
    EXPECT_EQ(switches["rule:Advertising:msclkid"], true);

    ASSERT_EQ(invoke({"rules", "disable", "Advertising"}).status, 0);
    EXPECT_EQ(invoke({"rules", "enable", "Advertising:gclid"}),
              (Invocation{0, "",
                          "tessaril: note: the category \"Advertising\" is off, so this rule does nothing until the "
                          "category is enabled\n"}));
    ASSERT_EQ(invoke({"rules", "enable", "emailmarketing"}).status, 0);
    EXPECT_EQ(category("Email Marketing")["isEnabled"], true);

    const auto before = stored();
    EXPECT_EQ(invoke({"rules", "disable", "Tracking"}),
              (Invocation{1, "", "tessaril: no category \"Tracking\"; see `tessaril rules list`\n"}));
    EXPECT_EQ(invoke({"rules", "enable", "Analytics:no_such_param"}),
              (Invocation{1, "", "tessaril: no rule \"Analytics:no_such_param\"; see `tessaril rules list`\n"}));
    EXPECT_EQ(stored(), before);
    EXPECT_EQ(invoke({"rules", "enable"}).status, 2);
}

TEST_F(RulesCommandsTest, CustomRulesAreLiteralAndOnlyThoseCanBeRemoved) {
    ASSERT_EQ(invoke({"rules", "add", "a.b*"}), (Invocation{0, "Custom:a.b*\n", ""}));
    const auto explained = invoke({"rules", "explain", "https://example.com/?A.B*=1&aXbb=2&a.b=3"});
    EXPECT_NE(explained.out.find("  A.B*: Custom:a.b*\n"), std::string::npos) << explained.out;
    EXPECT_EQ(explained.out.find("aXbb:"), std::string::npos) << explained.out;
    EXPECT_EQ(explained.out.find("a.b:"), std::string::npos) << explained.out;

    EXPECT_EQ(invoke({"rules", "add", "ref_src", "--name", "Referrer", "--category", "analytics"}).out,
              "Analytics:ref_src\n");
    const auto analytics = category("Analytics");
    const auto* entry = rule(analytics, "Analytics:ref_src");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ((*entry)["displayName"], "Referrer");
    EXPECT_EQ((*entry)["source"], "Custom");
    EXPECT_EQ((*rule(category("Custom"), "Custom:a.b*"))["displayName"], "a.b*");

    const auto before = stored();
    EXPECT_EQ(invoke({"rules", "add", "a.b*"}),
              (Invocation{1, "", "tessaril: a rule \"Custom:a.b*\" already exists\n"}));
    EXPECT_EQ(invoke({"rules", "add", "gclid", "--category", "Advertising"}).status, 1);
    EXPECT_EQ(invoke({"rules", "remove", "Advertising:gclid"}),
              (Invocation{1, "",
                          "tessaril: \"Advertising:gclid\" is a Built-in rule and cannot be removed; `tessaril rules "
                          "disable` switches it off\n"}));
    EXPECT_EQ(invoke({"rules", "add", ""}).status, 2);
    EXPECT_EQ(invoke({"rules", "add", "x", "--category", "Nope"}).status, 2);
    EXPECT_EQ(invoke({"rules", "add", "bad\xff"}).status, 2);
    EXPECT_EQ(invoke({"rules", "add", "x", "--name", std::string(300, 'n')}),
              (Invocation{2, "", "tessaril: the display name is longer than 256 bytes\n"}));
    EXPECT_EQ(invoke({"rules", "add", "x\ny"}).status, 2);
    EXPECT_EQ(stored(), before);

    ASSERT_EQ(invoke({"rules", "remove", "Custom:a.b*"}).status, 0);
    EXPECT_EQ(rule(category("Custom"), "Custom:a.b*"), nullptr);
    EXPECT_NE(rule(category("Analytics"), "Analytics:ref_src"), nullptr);
    EXPECT_EQ(invoke({"rules", "remove", "Custom:a.b*"}),
              (Invocation{1, "", "tessaril: no custom rule \"Custom:a.b*\"; see `tessaril rules list`\n"}));
}

TEST_F(RulesCommandsTest, ExportImportsIdenticallyOnAnotherMachine) {
    ASSERT_EQ(invoke({"rules", "add", "x_track", "--name", "X tracker"}).status, 0);
    ASSERT_EQ(invoke({"rules", "add", "y.id", "--category", "Analytics"}).status, 0);
    ASSERT_EQ(invoke({"rules", "disable", "Custom:x_track"}).status, 0);
    ASSERT_EQ(invoke({"rules", "disable", "Email Marketing"}).status, 0);
    const auto exported = invoke({"rules", "export"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    const fs::path file = writeFile("settings.json", exported.out);

    // A second machine: a fresh home of its own.
    useHome(root_ / "elsewhere");
    ASSERT_NE(invoke({"rules", "export"}).out, exported.out);
    const auto imported = invoke({"rules", "import", file.string()});
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(imported.out, "Imported " + file.string() + ": 2 custom rules added, 1 category switch changed\n");
    EXPECT_EQ(invoke({"rules", "export"}).out, exported.out);

    // Importing the same file again adds no second copy of the custom rules.
    const auto again = invoke({"rules", "import", file.string()});
    EXPECT_EQ(again.out, "Imported " + file.string() + ": 0 custom rules added, 0 category switches changed\n");
    EXPECT_EQ(invoke({"rules", "export"}).out, exported.out);
}

TEST_F(RulesCommandsTest, BadImportsChangeNothing) {
    ASSERT_EQ(invoke({"rules", "add", "mine"}).status, 0);
    ASSERT_EQ(invoke({"rules", "disable", "Social Media"}).status, 0);
    store("rulesEngine_matchCounts", R"({"cat:Analytics":3})");
    const auto before = stored();
    const auto exported = invoke({"rules", "export"}).out;
    auto document = nlohmann::json::parse(exported);
    // A good first category must not be applied when a later one is bad.
    document[0]["isEnabled"] = false;
    document[7]["rules"].push_back({{"id", "Custom:new"},
                                    {"pattern", "new"},
                                    {"displayName", "new"},
                                    {"category", "Custom"},
                                    {"source", "Custom"},
                                    {"isEnabled", true}});
    const std::string missingCount = document.dump();
    // What `rules add` refuses is refused in an import too.
    auto withCustom = [&](const std::string& id, const std::string& pattern, const std::string& name,
                          const std::string& category = "Custom", std::size_t copies = 1) {
        auto hostile = nlohmann::json::parse(exported);
        for (std::size_t i = 0; i < copies; ++i) {
            const std::string suffix = copies > 1 ? std::to_string(i) : "";
            hostile[7]["rules"].push_back({{"id", id + suffix},
                                           {"pattern", pattern + suffix},
                                           {"displayName", name},
                                           {"category", category},
                                           {"source", "Custom"},
                                           {"isEnabled", true},
                                           {"matchCount", 0}});
        }
        return hostile.dump();
    };
    document[6]["type"] = "Tracking";
    const std::string unknownCategory = document.dump();

    const std::map<std::string, std::string> bad = {
        {"not JSON", "Not JSON at all"},
        {"truncated", exported.substr(0, exported.size() / 2)},
        {"an object", R"({"categories":[]})"},
        {"a rule with a missing field", missingCount},
        {"an unknown category", unknownCategory},
        {"invalid UTF-8", "[{\"type\":\"Custom\xff\"}]"},
        {"deeply nested", std::string(200000, '[') + std::string(200000, ']')},
        {"an empty display name", withCustom("Custom:x", "x", "")},
        {"a 5 MB display name", withCustom("Custom:x", "x", std::string(5U << 20U, 'n'))},
        {"a line break in a parameter", withCustom("Custom:x\ny", "x\ny", "x")},
        {"a category that is not its list's", withCustom("Custom:x", "x", "x", "Advertising")},
        {"an identifier that is not its parameter", withCustom("Custom:y", "x", "x")},
    };
    for (const auto& [label, content] : bad) {
        const fs::path file = writeFile("bad.json", content);
        const auto result = invoke({"rules", "import", file.string()});
        EXPECT_EQ(result.status, 1) << label;
        EXPECT_EQ(result.err.rfind("tessaril: nothing was imported: ", 0), 0U) << label << ": " << result.err;
        EXPECT_EQ(stored(), before) << label;
    }
    EXPECT_NE(invoke({"rules", "import", writeFile("bad.json", unknownCategory).string()}).err.find(": entry 7 is "),
              std::string::npos);
    EXPECT_TRUE(
        invoke({"rules", "import", writeFile("bad.json", withCustom("Custom:x", "x", "x", "Custom", 600)).string()})
            .err.ends_with(": that would make 601 custom rules; at most 500 are kept\n"));

    const fs::path huge = root_ / "huge.json";
    std::ofstream(huge).put('[');
    fs::resize_file(huge, 50U * 1000 * 1000);
    const std::string refused = "tessaril: nothing was imported: ";
    EXPECT_EQ(invoke({"rules", "import", huge.string()}),
              (Invocation{1, "", refused + huge.string() + " is larger than 16 MB, far more than a rules export\n"}));
    const auto absent = (root_ / "absent.json").string();
    EXPECT_EQ(invoke({"rules", "import", absent}), (Invocation{1, "", refused + "cannot find " + absent + "\n"}));
    EXPECT_EQ(invoke({"rules", "import", root_.string()}),
              (Invocation{1, "", refused + root_.string() + " is not a regular file\n"}));
    EXPECT_EQ(stored(), before);
    EXPECT_EQ(invoke({"rules", "export"}).out, exported);
}

TEST_F(RulesCommandsTest, ResetsKeepWhatTheyShould) {
    ASSERT_EQ(invoke({"rules", "add", "mine"}).status, 0);
    ASSERT_EQ(invoke({"rules", "disable", "Analytics"}).status, 0);
    ASSERT_EQ(invoke({"rules", "disable", "Advertising:gclid"}).status, 0);
    store("rulesEngine_matchCounts", R"({"cat:Advertising":4,"rule:Advertising:gclid":4})");

    ASSERT_EQ(invoke({"rules", "reset"}).status, 0);
    EXPECT_EQ(stored()["rulesEngine_enabledState"], std::nullopt);
    EXPECT_EQ(stored()["rulesEngine_customRules"], std::nullopt);
    auto advertising = category("Advertising");
    EXPECT_EQ(advertising["matchCount"], 4);
    EXPECT_EQ((*rule(advertising, "Advertising:gclid"))["isEnabled"], true);
    EXPECT_EQ(category("Analytics")["isEnabled"], true);
    EXPECT_TRUE(category("Custom")["rules"].empty());

    ASSERT_EQ(invoke({"rules", "disable", "Advertising"}).status, 0);
    ASSERT_EQ(invoke({"rules", "reset-counts"}).status, 0);
    advertising = category("Advertising");
    EXPECT_EQ(advertising["matchCount"], 0);
    EXPECT_EQ((*rule(advertising, "Advertising:gclid"))["matchCount"], 0);
    EXPECT_EQ(advertising["isEnabled"], false);
    EXPECT_EQ(stored()["rulesEngine_matchCounts"], std::nullopt);
}

TEST_F(RulesCommandsTest, StoreThatCannotBeWrittenChangesNothing) {
    ASSERT_EQ(invoke({"rules", "add", "mine"}).status, 0);
    const auto before = stored();
    // Another process holds the write lock for longer than the tool waits.
    auto other = SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()));
    testing::Invocation blocked{};
    other->transaction([&](UserDefaults&) {
        blocked = invoke({"rules", "remove", "Custom:mine"});
        return false;
    });
    EXPECT_EQ(blocked.status, 1);
    EXPECT_EQ(blocked.err, "tessaril: nothing changed: the preferences store could not be written\n");
    EXPECT_EQ(stored(), before);
}

}  // namespace
}  // namespace tessaril
