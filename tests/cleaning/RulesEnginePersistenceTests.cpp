// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/CustomRuleCheck.h"
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/stats/StatsTracker.h"
#include "tests/cleaning/RulesTestSupport.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tessaril {
namespace {

using testing::builtInRuleFor;
using testing::category;
using testing::ruleIDs;
using testing::rulesFixture;
using Strings = std::vector<std::string>;

class RulesEnginePersistenceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.loadRules(rulesFixture("providers.json"))); }

    nlohmann::json stored(std::string_view key) {
        auto text = defaults.dataText(key);
        return text ? nlohmann::json::parse(*text) : nlohmann::json();
    }
    std::size_t fallbackCount(std::string_view id) {
        std::size_t count = 0;
        for (const auto& rule : engine.fallbackRules())
            count += rule.ruleID == id ? 1 : 0;
        return count;
    }

    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, {nullptr, nullptr, [](std::string_view) {}}};
};

// The count document is written from a kept list of keys; it must stay exactly the JSON object of
// every category and rule count, whatever happened to the tree since the list was made. (How the
// switches are stored, the tool's rules tests read and write.)
TEST_F(RulesEnginePersistenceTest, StoredCountsFollowEveryChangeOfTheTree) {
    const auto expectedText = [this] {
        nlohmann::json map = nlohmann::json::object();
        for (const auto& listed : engine.categories()) {
            map["cat:" + std::string(listed->id())] = listed->matchCount();
            for (const auto& rule : listed->rules())
                map["rule:" + rule->id()] = rule->matchCount();
        }
        return map.dump();
    };
    engine.recordMatch("Advertising:gclid", RuleCategoryType::advertising);
    // A rule the tree does not list still counts for its category.
    engine.recordMatch("Advertising:not-listed", RuleCategoryType::advertising);
    engine.saveMatchCounts();
    EXPECT_EQ(defaults.dataText(RulesEngine::matchCountsKey), expectedText());
    EXPECT_EQ(stored(RulesEngine::matchCountsKey)["cat:Advertising"], 2);

    // Two custom rules with one identifier: the later one's count is the one written, as in any
    // JSON object built key by key.
    engine.addCustomRule("wt_\"x", "Quote", RuleCategoryType::custom);
    engine.addCustomRule("wt_\"x", "Quote again", RuleCategoryType::custom);
    engine.recordMatch("Custom:wt_\"x", RuleCategoryType::custom);
    engine.saveMatchCounts();
    EXPECT_EQ(defaults.dataText(RulesEngine::matchCountsKey), expectedText());
    EXPECT_EQ(stored(RulesEngine::matchCountsKey)["rule:Custom:wt_\"x"], 0);

    engine.removeCustomRule("Custom:wt_\"x");
    ASSERT_TRUE(engine.loadRules(rulesFixture("providers.json")));
    engine.recordMatch("Advertising:gclid", RuleCategoryType::advertising);
    engine.saveMatchCounts();
    EXPECT_EQ(defaults.dataText(RulesEngine::matchCountsKey), expectedText());
}

TEST_F(RulesEnginePersistenceTest, UndecodableOrWrongTypedStoredStateIsIgnored) {
    defaults.setDataText(RulesEngine::enabledStateKey, R"({"cat:Analytics": false, "cat:Advertising": 0})");
    defaults.setDataText(RulesEngine::matchCountsKey, R"({"cat:Analytics": 5, "rule:Analytics:pp": 2})");
    defaults.set(RulesEngine::customRulesKey, std::int64_t{3});
    engine.reloadPersistedState();
    EXPECT_TRUE(engine.isCategoryEnabled(RuleCategoryType::analytics));
    EXPECT_EQ(category(engine, RuleCategoryType::analytics).matchCount(), 5);
    EXPECT_EQ(category(engine, RuleCategoryType::analytics).firstRule("Analytics:pp")->matchCount(), 2);
    EXPECT_TRUE(category(engine, RuleCategoryType::custom).rules().empty());

    defaults.setDataText(RulesEngine::customRulesKey,
                         R"([{"id":"Custom:a","pattern":"a","displayName":"a","category":"Custom","source":"Custom",)"
                         R"("isEnabled":true,"matchCount":0},{"id":"Custom:b"}])");
    defaults.setDataText(RulesEngine::matchCountsKey, R"({"cat:Analytics": 1.5})");
    engine.reloadPersistedState();
    EXPECT_TRUE(category(engine, RuleCategoryType::custom).rules().empty());
    EXPECT_EQ(category(engine, RuleCategoryType::analytics).matchCount(), 5);
}

TEST_F(RulesEnginePersistenceTest, RecordMatchHonoursTheStatisticsSwitch) {
    engine.setStatisticsSwitch([this] { return StatsTracker::isCollectionEnabled(defaults); });
    defaults.set("stats_collection_enabled", false);
    engine.recordMatch("Advertising:gclid", RuleCategoryType::advertising);
    EXPECT_EQ(category(engine, RuleCategoryType::advertising).matchCount(), 0);
    defaults.set("stats_collection_enabled", std::string("no"));  // not a Boolean: collection stays on
    engine.recordMatch("Advertising:gclid", RuleCategoryType::advertising);
    EXPECT_EQ(category(engine, RuleCategoryType::advertising).firstRule("Advertising:gclid")->matchCount(), 1);
}

// Custom rules match whole names, literally and in any case; they are stored, kept over a reload of
// the rule files, and an import of an export adds none twice and keeps the rule switches it carries
// (on another machine too, with a custom rule's own switch: the tool's export test).
TEST_F(RulesEnginePersistenceTest, CustomRulesAndImportsOfExports) {
    engine.addCustomRule("ref_src", "ref_src", RuleCategoryType::custom);
    engine.addCustomRule("a.b*", "dotted", RuleCategoryType::custom);
    for (const auto& [name, id] : {std::pair{"REF_SRC", "Custom:ref_src"},
                                   {"ref_src2", ""},
                                   {"A.B*", "Custom:a.b*"},
                                   {"axb", ""},
                                   {"a.bbb", ""}})
        EXPECT_EQ(builtInRuleFor(engine, name), id) << name;
    ASSERT_TRUE(engine.loadRules(rulesFixture("providers.json")));
    engine.removeCustomRule("Custom:a.b*");
    EXPECT_EQ(builtInRuleFor(engine, "a.b*"), "");
    EXPECT_EQ(ruleIDs(category(engine, RuleCategoryType::custom)), (Strings{"Custom:ref_src"}));
    EXPECT_EQ(stored(RulesEngine::customRulesKey).size(), 1u);

    category(engine, RuleCategoryType::socialMedia).setEnabled(false);
    auto exported = engine.exportRules();
    ASSERT_TRUE(exported.has_value());
    category(engine, RuleCategoryType::socialMedia).setEnabled(true);
    category(engine, RuleCategoryType::advertising).firstRule("Advertising:gclid")->setEnabled(false);
    ASSERT_TRUE(engine.importRules(*exported));
    EXPECT_FALSE(engine.isCategoryEnabled(RuleCategoryType::socialMedia));
    EXPECT_FALSE(category(engine, RuleCategoryType::advertising).firstRule("Advertising:gclid")->isEnabled());
    EXPECT_EQ(fallbackCount("Custom:ref_src"), 1u);
    EXPECT_EQ(stored(RulesEngine::enabledStateKey)["cat:Social Media"], false);
}

// However custom rules arrive, their number is bounded: each one is asked about every parameter.
TEST_F(RulesEnginePersistenceTest, CustomRulesAreBoundedHoweverTheyArrive) {
    auto document = nlohmann::json::array();
    for (std::size_t i = 0; i <= maximumCustomRules + 1; ++i) {
        const std::string pattern = "p" + std::to_string(i);
        document.push_back({{"id", "Custom:" + pattern},
                            {"pattern", pattern},
                            {"displayName", i == 0 ? "" : pattern},
                            {"category", "Custom"},
                            {"source", "Custom"},
                            {"isEnabled", true},
                            {"matchCount", 0}});
    }
    defaults.setDataText(RulesEngine::customRulesKey, document.dump());
    engine.reloadPersistedState();
    // The stored rule with an empty name is left out; of the rest, only as many as may be kept.
    const auto& custom = category(engine, RuleCategoryType::custom);
    ASSERT_EQ(custom.rules().size(), maximumCustomRules);
    EXPECT_EQ(custom.rules().front()->id(), "Custom:p1");
    // (The refusal's wording is pinned by the tool's import test.)
    EXPECT_NE(engine.customRuleRefusal("one_more", "one_more"), std::nullopt);
    EXPECT_EQ(engine.customRuleRefusal("a\tb", "x"), "the parameter name holds control characters");
}

TEST_F(RulesEnginePersistenceTest, ResetsKeepTheOtherHalf) {
    engine.addCustomRule("ref_src", "ref_src", RuleCategoryType::custom);
    category(engine, RuleCategoryType::analytics).setEnabled(false);
    category(engine, RuleCategoryType::advertising).firstRule("Advertising:gclid")->setEnabled(false);
    engine.recordMatch("Advertising:gclid", RuleCategoryType::advertising);
    engine.saveEnabledStates();
    engine.saveMatchCounts();

    engine.resetToDefaults();
    EXPECT_TRUE(engine.isCategoryEnabled(RuleCategoryType::analytics));
    EXPECT_TRUE(engine.isRuleEnabled("Advertising:gclid", RuleCategoryType::advertising));
    EXPECT_TRUE(category(engine, RuleCategoryType::custom).rules().empty());
    EXPECT_EQ(fallbackCount("Custom:ref_src"), 0u);
    // (What each reset leaves in the store, the tool's rules tests check.)
    EXPECT_FALSE(defaults.objectExists(RulesEngine::enabledStateKey));
    EXPECT_EQ(category(engine, RuleCategoryType::advertising).firstRule("Advertising:gclid")->matchCount(), 1);

    category(engine, RuleCategoryType::analytics).setEnabled(false);
    engine.resetMatchCounts();
    EXPECT_FALSE(engine.isCategoryEnabled(RuleCategoryType::analytics));
    EXPECT_EQ(category(engine, RuleCategoryType::advertising).matchCount(), 0);
    EXPECT_EQ(category(engine, RuleCategoryType::advertising).totalMatchCount(), 0);
}

TEST_F(RulesEnginePersistenceTest, ReloadReflectsWhatTheDefaultsHold) {
    engine.addCustomRule("one", "one", RuleCategoryType::advertising);
    // Another process (or a restore) replaces the stored custom rules.
    InMemoryUserDefaults& store = defaults;
    RulesEngine writer(store, {nullptr, nullptr, [](std::string_view) {}});
    ASSERT_TRUE(writer.loadRules(R"({"providers":{}})"));
    writer.removeCustomRule("Advertising:one");
    writer.addCustomRule("two", "two", RuleCategoryType::emailMarketing);

    engine.reloadPersistedState();
    EXPECT_EQ(builtInRuleFor(engine, "one"), "");
    EXPECT_EQ(builtInRuleFor(engine, "TWO"), "Email Marketing:two");
    EXPECT_EQ(ruleIDs(category(engine, RuleCategoryType::emailMarketing)).back(), "Email Marketing:two");
}

}  // namespace
}  // namespace tessaril
