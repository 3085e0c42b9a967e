// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/ContentDigest.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "tests/cleaning/RulesTestSupport.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <chrono>

namespace tessaril {
namespace {

using testing::category;
using testing::provider;
using testing::ruleIDs;
using testing::rulesFixture;
using Strings = std::vector<std::string>;

class RulesEngineTest : public ::testing::Test {
protected:
    RulesEngine makeEngine() {
        return RulesEngine(defaults,
                           {nullptr, nullptr, [this](std::string_view line) { diagnostics.emplace_back(line); }});
    }

    void SetUp() override { ASSERT_TRUE(engine.loadRules(rulesFixture("providers.json"))); }

    InMemoryUserDefaults defaults;
    Strings diagnostics;
    // Loaded with the providers fixture.
    RulesEngine engine = makeEngine();
};

TEST_F(RulesEngineTest, EmptyProviderFileStillBuildsTheBuiltInTree) {
    RulesEngine fresh = makeEngine();
    EXPECT_TRUE(fresh.categories().empty());
    // Before any load (or after a refused first one) links can still be asked about.
    EXPECT_TRUE(testing::matched(fresh, "https://shop.example/?ref=1").providers().empty());
    int announcements = 0;
    auto connection = fresh.categoriesChanged().connect([&] { ++announcements; });
    ASSERT_TRUE(fresh.loadRules(R"({"providers":{}})"));
    EXPECT_EQ(announcements, 1);
    ASSERT_EQ(fresh.categories().size(), 8u);
    // The built-in rules, each listed in its own category (the identifier names it), in order.
    Strings listed;
    for (const auto& each : fresh.categories())
        for (const auto& id : ruleIDs(*each))
            listed.push_back(id);
    EXPECT_EQ(listed, (Strings{"Analytics:utm_*", "Analytics:yclid", "Analytics:feature", "Analytics:pp",
                               "Social Media:fbclid", "Social Media:ttclid", "Social Media:twclid", "Advertising:gclid",
                               "Advertising:gclsrc", "Advertising:msclkid", "Email Marketing:mc_cid",
                               "Email Marketing:mc_eid", "Email Marketing:_hsenc", "Email Marketing:_hsmi"}));
    EXPECT_EQ(category(fresh, RuleCategoryType::analytics).rules()[0]->displayName(), "utm_* (all UTM parameters)");
    EXPECT_EQ(fresh.fallbackRules().size(), listed.size());
    EXPECT_EQ(testing::strippedBy(fresh, "https://shop.example/", "UTM_Source"), "Analytics:utm_*");
    EXPECT_EQ(testing::strippedBy(fresh, "https://shop.example/", "gclid"), "Advertising:gclid");
    EXPECT_EQ(testing::strippedBy(fresh, "https://shop.example/", "xgclid"), "");
}

TEST_F(RulesEngineTest, CompilesProvidersAndListsTheirRules) {
    Strings names;
    for (const auto& compiled : engine.compiledProviders())
        names.push_back(compiled.name);
    // The provider whose URL pattern does not compile is dropped; the rest keep the file's order.
    EXPECT_EQ(names, (Strings{"acme-amazon", "wrapper", "everywhere"}));

    const CompiledProvider* acme = provider(engine, "acme-amazon");
    ASSERT_NE(acme, nullptr);
    EXPECT_EQ(acme->category, RuleCategoryType::ecommerce);
    EXPECT_EQ(acme->paramRegexes.size(), 3u);  // "(unclosed" is skipped
    EXPECT_EQ(provider(engine, "wrapper")->redirectionRegexes.size(), 3u);
    EXPECT_EQ(provider(engine, "wrapper")->category, RuleCategoryType::redirectUnwrapping);

    // A rule is shown as "provider: pattern" (the tool's rules list shows that), a path rule by its kind.
    EXPECT_EQ(category(engine, RuleCategoryType::ecommerce).rules()[3]->displayName(), "acme-amazon: path rule");
    EXPECT_EQ(ruleIDs(category(engine, RuleCategoryType::ecommerce)),
              (Strings{"E-commerce:ref", "E-commerce:tracking|sid", "E-commerce:pd_[a-z]+", "E-commerce:/ref=[^/?]*"}));
    EXPECT_EQ(ruleIDs(category(engine, RuleCategoryType::referralMarketing)), (Strings{"Referral Marketing:tag"}));
    EXPECT_EQ(category(engine, RuleCategoryType::redirectUnwrapping).rules()[2]->id(),
              "Redirect Unwrapping:^https?://out\\.example/r\\?u=([^&]*)");
    // Analytics: the utm rule first, then provider entries, then the built-in names.
    EXPECT_EQ(ruleIDs(category(engine, RuleCategoryType::analytics)),
              (Strings{"Analytics:utm_*", "Analytics:trk", "Analytics:yclid", "Analytics:feature", "Analytics:pp"}));
    EXPECT_TRUE(diagnostics.empty());
}

// A main file that does not decode keeps the providers there were, and says so; a supplementary file
// that does not decode is passed over without a word. (That any refused document leaves the engine
// as it was, fuzz/RuleFilesFuzzer.cpp checks on any bytes.)
TEST_F(RulesEngineTest, FailedDecodesKeepThePreviousState) {
    ASSERT_TRUE(engine.loadRuleBundle(rulesFixture("providers.json"), rulesFixture("supplementary.json")));
    ASSERT_EQ(engine.compiledProviders().size(), 4u);
    EXPECT_EQ(engine.compiledProviders().back().name, "extra");
    EXPECT_EQ(testing::strippedBy(engine, "https://extra.example/", "XTRA"), "Analytics:xtra");

    // The supplementary file's providers still go after the ones there were.
    EXPECT_FALSE(engine.loadRuleBundle("{broken", rulesFixture("supplementary.json")));
    EXPECT_EQ(diagnostics, (Strings{"Warning: Could not decode rules JSON"}));
    ASSERT_EQ(engine.compiledProviders().size(), 5u);
    EXPECT_EQ(engine.compiledProviders()[3].name, "extra");
    EXPECT_EQ(engine.compiledProviders()[4].name, "extra");

    EXPECT_FALSE(engine.appendSupplementaryRules("{broken"));
    EXPECT_TRUE(engine.loadRuleBundle(rulesFixture("providers.json"), std::string_view("{broken")));
    EXPECT_EQ(diagnostics.size(), 1u);
    EXPECT_EQ(engine.compiledProviders().size(), 3u);
}

// The build lists the shipped files whose every pattern loads; a load of exactly those bytes leaves
// each pattern to compile on first use, and any other bytes are checked as ever. The fixture has
// patterns that do not compile, so marking it shows which way a load went.
TEST_F(RulesEngineTest, OnlyTheBytesTheBuildCheckedSkipTheirPatternChecks) {
    const std::string fixture = rulesFixture("providers.json");
    EXPECT_FALSE(RulesEngine::loadsEveryPattern(fixture));
    EXPECT_FALSE(RulesEngine::loadsEveryPattern("{broken"));
    EXPECT_TRUE(RulesEngine::loadsEveryPattern(rulesFixture("supplementary.json")));
    for (const auto& [marked, expectedParams] : {std::pair(fixture, 4U), std::pair(fixture + " ", 3U)}) {
        ResourceBundle bundle("unused");
        const std::uint64_t digest = contentDigest(marked);
        bundle.setCheckedRuleFiles(std::span(&digest, 1));
        RulesEngine loaded(defaults, {&bundle, nullptr, [](std::string_view) {}});
        ASSERT_TRUE(loaded.loadRules(fixture));
        const CompiledProvider* acme = provider(loaded, "acme-amazon");
        ASSERT_NE(acme, nullptr);
        EXPECT_EQ(acme->paramRegexes.size(), expectedParams) << marked.size();
        // A kept pattern that does not compile matches nothing, as a skipped one would.
        EXPECT_EQ(testing::strippedBy(loaded, "https://acme.example/", "ref"), "E-commerce:ref");
    }
}

TEST_F(RulesEngineTest, BundledRulesNeedTheResource) {
    RulesEngine unbundled = makeEngine();
    EXPECT_FALSE(unbundled.loadBundledRules());
    EXPECT_EQ(diagnostics, (Strings{"Warning: Could not load bundled rules"}));
    EXPECT_TRUE(unbundled.categories().empty());
}

TEST_F(RulesEngineTest, NewestSupplementaryFileWinsAndTiesGoToTheSharedContainer) {
    testing::TemporaryDirectory folder;
    auto make = [&](const std::filesystem::path& dir) {
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "tessaril-supplementary.json") << "{}";
        return dir / "tessaril-supplementary.json";
    };
    auto bundleFile = make(folder.path() / "bundle");
    auto newGroup = make(folder.path() / "orvelle");
    auto oldGroup = make(folder.path() / "quenby");
    FixedPaths paths(folder.path());
    ResourceBundle resources(folder.path() / "bundle");
    RulesEngine located(defaults, {&resources, &paths, {}});
    EXPECT_EQ(located.supplementaryRulesURL(), bundleFile);

    paths.setSharedContainer("group.com.orvellelabs.tessaril", folder.path() / "orvelle");
    paths.setSharedContainer("group.com.quenby.tessaril", folder.path() / "quenby");
    auto now = std::filesystem::file_time_type::clock::now();
    for (const auto& file : {bundleFile, newGroup, oldGroup})
        std::filesystem::last_write_time(file, now);
    EXPECT_EQ(located.supplementaryRulesURL(), newGroup);

    std::filesystem::last_write_time(bundleFile, now + std::chrono::hours(1));
    EXPECT_EQ(located.supplementaryRulesURL(), bundleFile);
    std::filesystem::last_write_time(oldGroup, now + std::chrono::hours(2));
    EXPECT_EQ(located.supplementaryRulesURL(), oldGroup);

    std::filesystem::remove_all(folder.path());
    EXPECT_FALSE(located.supplementaryRulesURL().has_value());
}

// Records the throw-away suites validation makes and removes; refuses to make one when asked to.
class SuiteLog final : public UserDefaults {
public:
    [[nodiscard]] std::optional<DefaultsValue> value(std::string_view key) const override { return store.value(key); }
    bool set(std::string_view key, DefaultsValue value) override { return store.set(key, std::move(value)); }
    void remove(std::string_view key) override { store.remove(key); }
    [[nodiscard]] std::unique_ptr<UserDefaults> suite(std::string_view name) override {
        made.emplace_back(name);
        return refuse ? nullptr : store.suite(name);
    }
    void removeSuite(std::string_view name) override {
        removed.emplace_back(name);
        store.removeSuite(name);
    }
    bool transaction(const std::function<bool(UserDefaults&)>& body) override { return store.transaction(body); }

    InMemoryUserDefaults store;
    bool refuse = false;
    Strings made;
    Strings removed;
};

TEST(RuleBundleValidationTest, EachProblemHasItsMessageAndTheThrowAwaySuiteNeverStays) {
    const auto text = [](const nlohmann::json& document) {
        return document.is_string() ? document.get<std::string>() : document.dump();
    };
    const auto cases = testing::readCases("cleaning/rule-bundle-validation.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        SuiteLog defaults;
        const std::string supplementary = text(row[1]);
        const auto view = row[1].is_null() ? std::nullopt : std::optional<std::string_view>(supplementary);
        const auto problem = row[2].is_null() ? std::nullopt : std::optional(row[2].get<std::string>());
        EXPECT_EQ(RulesEngine::validateRuleBundle(defaults, text(row[0]), view), problem) << row;
        EXPECT_EQ(defaults.made.size(), row[3].get<bool>() ? 1U : 0U) << row;
        EXPECT_EQ(defaults.removed, defaults.made);
        for (const auto& name : defaults.made)
            EXPECT_TRUE(name.starts_with("Tessaril-rule-validation-")) << name;
    }
    SuiteLog refusing;
    refusing.refuse = true;
    EXPECT_EQ(RulesEngine::validateRuleBundle(refusing, text(cases[0][0]), std::nullopt),
              "Could not isolate validation preferences");
    EXPECT_TRUE(refusing.removed.empty());
}

}  // namespace
}  // namespace tessaril
