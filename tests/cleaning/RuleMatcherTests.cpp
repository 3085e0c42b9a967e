// SPDX-License-Identifier: GPL-3.0-or-later
// What the rules answer about a link, asked the way the cleaner asks: through the matcher.
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/matching/SiteTailPattern.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/Regex.h"
#include "core/foundation/Text.h"
#include "tests/cleaning/RulesTestSupport.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace tessaril {
namespace {

using testing::category;
using testing::matched;
using testing::strippedBy;
using Strings = std::vector<std::string>;

Strings providerNames(const LinkMatch& link) {
    Strings names;
    for (const auto* provider : link.providers())
        names.push_back(provider->name);
    return names;
}

class RuleMatcherTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.loadRules(testing::rulesFixture("providers.json"))); }

    std::optional<std::string> target(std::string_view url) {
        auto link = matched(engine, url);
        auto redirect = link.redirect();
        return redirect ? std::optional(redirect->target) : std::nullopt;
    }

    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, {nullptr, nullptr, [](std::string_view) {}}};
};

TEST_F(RuleMatcherTest, ProvidersExceptionsAndParameterRules) {
    // An empty URL pattern applies everywhere; the search is unanchored and ignores letter case.
    EXPECT_EQ(providerNames(matched(engine, "https://acme.example/item?ref=1")),
              (Strings{"acme-amazon", "everywhere"}));
    EXPECT_EQ(providerNames(matched(engine, "not even a url")), (Strings{"everywhere"}));
    EXPECT_EQ(providerNames(matched(engine, "HTTPS://OUT.EXAMPLE/x")), (Strings{"wrapper", "everywhere"}));

    const auto rules = testing::readCases("cleaning/parameter-rules.json");
    ASSERT_FALSE(rules.empty());
    for (const auto& row : rules)
        EXPECT_EQ(strippedBy(engine, "https://acme.example/item", row[0].get<std::string>()), row[1]) << row;
    // An excepted link keeps the provider but none of its rules apply.
    EXPECT_EQ(strippedBy(engine, "https://acme.example/checkout?x", "ref"), "");
    EXPECT_EQ(strippedBy(engine, "https://acme.example/checkout?x", "trk"), "Analytics:trk");
}

TEST_F(RuleMatcherTest, SwitchesAreReadLiveAndChangedRulesAreSeen) {
    const std::string item = "https://acme.example/";
    const RuleMatcher* before = &engine.matcher();
    category(engine, RuleCategoryType::referralMarketing).setEnabled(false);
    EXPECT_EQ(strippedBy(engine, item, "tag"), "");
    EXPECT_EQ(strippedBy(engine, item, "ref"), "E-commerce:ref");
    RuleCategory& ecommerce = category(engine, RuleCategoryType::ecommerce);
    ecommerce.firstRule("E-commerce:ref")->setEnabled(false);
    EXPECT_EQ(strippedBy(engine, item, "ref"), "");
    // Switches need no new matcher.
    EXPECT_EQ(&engine.matcher(), before);
    category(engine, RuleCategoryType::advertising).setEnabled(false);
    EXPECT_EQ(strippedBy(engine, item, "gclid"), "");
    EXPECT_EQ(strippedBy(engine, item, "fbclid"), "Social Media:fbclid");

    // Whoever replaces the rules listed in the tree, the rules answer to the new entries.
    ecommerce.setRules({});
    EXPECT_EQ(strippedBy(engine, item, "ref"), "E-commerce:ref");
    ecommerce.appendRule(std::make_shared<RuleEntry>("E-commerce:ref", "ref", "ref", RuleCategoryType::ecommerce,
                                                     RuleEntry::Source::clearURLs, false));
    EXPECT_EQ(strippedBy(engine, item, "ref"), "");
    engine.addCustomRule("mine", "Mine", RuleCategoryType::custom);
    EXPECT_EQ(strippedBy(engine, item, "MINE"), "Custom:mine");
    engine.removeCustomRule("Custom:mine");
    EXPECT_EQ(strippedBy(engine, item, "mine"), "");

    category(engine, RuleCategoryType::ecommerce).setEnabled(false);
    EXPECT_EQ(providerNames(matched(engine, item)), (Strings{"everywhere"}));
}

TEST_F(RuleMatcherTest, RedirectTargetsAndPathRules) {
    const auto targets = testing::readCases("cleaning/redirect-targets.json");
    ASSERT_FALSE(targets.empty());
    for (const auto& row : targets)
        EXPECT_EQ(target(row[0].get<std::string>()),
                  row[1].is_null() ? std::nullopt : std::optional(row[1].get<std::string>()))
            << row[0];
    // Only the category switch counts for redirections.
    category(engine, RuleCategoryType::redirectUnwrapping).rules()[1]->setEnabled(false);
    EXPECT_TRUE(target("https://out.example/go/https://site.example").has_value());
    category(engine, RuleCategoryType::redirectUnwrapping).setEnabled(false);
    EXPECT_FALSE(target("https://out.example/go/https://site.example").has_value());

    auto link = matched(engine, "https://acme.example/dp/B01/REF=sr_1?x=1/ref=a");
    const CompiledProvider* rewriter = link.nextPathRewrite();
    ASSERT_NE(rewriter, nullptr);
    EXPECT_EQ(rewriter->name, "acme-amazon");
    EXPECT_EQ(link.text(), "https://acme.example/dp/B01?x=1");
    EXPECT_EQ(link.textBeforeRewrite(), "https://acme.example/dp/B01/REF=sr_1?x=1/ref=a");
    EXPECT_EQ(link.nextPathRewrite(), nullptr);
    // The exception covers the link as it stands after the rewrite.
    EXPECT_EQ(link.strippingRule("ref")->id(), "E-commerce:ref");
    auto excepted = matched(engine, "https://acme.example/checkout/ref=a");
    EXPECT_EQ(excepted.nextPathRewrite(), nullptr);
}

// Providers whose URL patterns are plain words: a provider matches exactly when its word occurs.
class LiteralRoutingTest : public ::testing::Test {
protected:
    // Providers load in the order of their names; these sort like their numbers.
    static std::string name(std::size_t i) { return (i < 10 ? "p0" : "p") + std::to_string(i); }

    void load(const Strings& words) {
        nlohmann::json providers = nlohmann::json::object();
        for (std::size_t i = 0; i < words.size(); ++i)
            providers[name(i)] = {{"urlPattern", Regex::escape(words[i])}, {"rules", {"x"}}};
        ASSERT_TRUE(engine.loadRules(nlohmann::json{{"providers", providers}}.dump()));
        words_ = words;
    }
    // The providers that should match: their word occurs in the text, ASCII letters in any case.
    Strings expected(std::string_view text) const {
        Strings names;
        const std::string lower = text::asciiLower(text);
        for (std::size_t i = 0; i < words_.size(); ++i) {
            if (lower.find(text::asciiLower(words_[i])) != std::string::npos) names.push_back(name(i));
        }
        return names;
    }

    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, {nullptr, nullptr, [](std::string_view) {}}};
    Strings words_;
};

// Each word alone at every offset of short and long texts, so that it meets the link scan's
// eight-byte reads at every alignment and the last windows that are read one by one; cut by a byte
// at either end, it is gone. (Many words sharing windows are the shipped rules' own, which the
// differential test routes.)
TEST_F(LiteralRoutingTest, WordsAtEveryOffset) {
    load({"amazon", "://t.co/", "ref=", "%3a%2f%2f", "utm_", "\xC3\xA9t\xC3\xA9"});
    for (std::size_t w = 0; w < words_.size(); ++w) {
        for (std::size_t before = 0; before < 20; ++before) {
            for (std::size_t after = 0; after < 10; ++after) {
                const std::string text = std::string(before, 'x') + words_[w] + std::string(after, 'y');
                ASSERT_EQ(providerNames(matched(engine, text)), Strings{name(w)}) << text;
                const std::string_view view(text);
                ASSERT_EQ(providerNames(matched(engine, view.substr(0, before + words_[w].size() - 1))), Strings{});
                ASSERT_EQ(providerNames(matched(engine, view.substr(before + 1))), Strings{});
            }
        }
    }
    std::string repeated;
    for (int i = 0; i < 100; ++i)
        repeated += "utm_";
    EXPECT_EQ(providerNames(matched(engine, repeated + "AMAZON")), (Strings{"p00", "p04"}));
}

// Every printable byte between two fixed letters: found in its own case and, for a capital, in the
// other; "@" is not a capital "`".
TEST_F(LiteralRoutingTest, AsciiLetterCaseAndNothingElse) {
    for (int byte = 0x20; byte < 0x7F; ++byte) {
        const char c = static_cast<char>(byte);
        const char small = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        load({std::string("qz") + small + "j", std::string("qz") + static_cast<char>(byte | 0x20) + "j"});
        for (const std::string& text : {std::string("qz") + c + "jxxxxxxxxx", std::string("xqz") + c + "j"})
            ASSERT_EQ(providerNames(matched(engine, text)), expected(text)) << text;
    }
}

// Answers worked out per name are kept; a flood of names replaces them without a wrong answer.
TEST_F(RuleMatcherTest, KeptNameAnswersStayRight) {
    auto link = matched(engine, "https://acme.example/");
    for (int i = 0; i < 20000; ++i) {
        const std::string name = (i % 3 == 0 ? "utm_" : "n") + std::to_string(i);
        ASSERT_EQ(link.strippingRule(name).has_value(), i % 3 == 0) << name;
        ASSERT_EQ(link.strippingRule("ref")->id(), "E-commerce:ref");
    }
}

// (That every answer the direct reading gives is ICU's, and that on printable ASCII it always gives
// one, fuzz/SiteTailPatternFuzzer.cpp checks from its seeds on.)
TEST(SiteTailPatternTest, LeavesOtherPatternsToTheirExpression) {
    const std::string subdomains = R"(^https?:\/\/(?:[a-z0-9-]+\.)*?)";
    for (const std::string tail :
         {R"(google(?:\.[a-z]{2,}){1,})", R"(amazon\.(?:com?\.)?[a-z]{2,3})", R"(a(?:b(?:c|d)))", R"(ab+)", R"(a\d)",
          R"(a$)", R"((?=a))", R"((a|b)(a|b)(a|b)(a|b)(a|b)(a|b)(a|b)(a|b)(a|b))"})
        EXPECT_FALSE(SiteTailPattern::read(subdomains + tail)) << tail;
    EXPECT_FALSE(SiteTailPattern::read(R"(^https?:\/\/(?:www\.)?x\.com)"));
}

}  // namespace
}  // namespace tessaril
