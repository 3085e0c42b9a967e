// SPDX-License-Identifier: GPL-3.0-or-later
// The converter from the community's URL-tracking filter list: each shape of rule becomes the
// provider record that removes the same parameters on the same sites, or is left out and counted;
// the converted file cleans links through the engine as the list means.
#include "tools/filter-converter/FilterCategory.h"
#include "tools/filter-converter/FilterConversion.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/Regex.h"
#include "tests/support/CaseTable.h"

namespace tessaril::filters {
namespace {

std::string outcome(const std::variant<std::vector<FilterRule>, SkipReason>& parsed, std::vector<std::string>& out) {
    if (const auto* reason = std::get_if<SkipReason>(&parsed)) return "skip:" + std::string(describe(*reason));
    for (const auto& rule : std::get<std::vector<FilterRule>>(parsed)) {
        out.push_back((rule.exception ? "@@" : "") + rule.site + " " + rule.namePattern + " " +
                      std::to_string(rule.excludedUrlPatterns.size()));
    }
    return "";
}

TEST(FilterRuleTest, EachShapeOfRuleIsTakenAsAProviderSaysItOrLeftOut) {
    const auto cases = testing::readCases("tools/filter-shapes.json");
    ASSERT_GT(cases.size(), 20U);
    for (const auto& c : cases) {
        std::vector<std::string> rules;
        const std::string skipped = outcome(parseFilterLine(c[0].get<std::string>()), rules);
        EXPECT_EQ(skipped.empty() ? rules : std::vector<std::string>{skipped}, c[1].get<std::vector<std::string>>())
            << c[0];
    }
}

TEST(FilterRuleTest, SitePatternsMatchTheHostItsSubdomainsAndPathButNothingElse) {
    const auto cases = testing::readCases("tools/filter-sites.json");
    ASSERT_GT(cases.size(), 10U);
    for (const auto& c : cases) {
        const std::string pattern = hostUrlPattern(c[0].get<std::string>(), c[1].get<std::string>());
        const auto regex = Regex::compile(pattern, true);
        ASSERT_TRUE(regex) << pattern;
        EXPECT_EQ(regex->firstMatch(c[2].get<std::string>()).has_value(), c[3].get<bool>()) << pattern << " " << c[2];
    }
}

TEST(FilterCategoryTest, CommentsDecideThenHostAndNameThenAnalytics) {
    struct Case {
        std::string comments, host, label;
        RuleCategoryType expected;
    };
    const std::vector<Case> cases{
        {" Used by shareasale.com\n", "", "sscid", RuleCategoryType::referralMarketing},
        {" impact.com\n", "", "irclickid", RuleCategoryType::referralMarketing},
        {" Mailchimp newsletter\n", "", "mc_eid", RuleCategoryType::emailMarketing},
        {" GLAMI click id\n", "", "gci", RuleCategoryType::advertising},
        {" Facebook\n", "", "fbclid", RuleCategoryType::socialMedia},
        {" https://github.com/example/issues/1\n", "www.amazon.example", "pd_rd_w", RuleCategoryType::ecommerce},
        {" https://github.com/example/issues/2\n", "news.example", "ea_src", RuleCategoryType::analytics},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(categoryFor(c.comments, c.host, c.label), c.expected) << c.comments << c.host << c.label;
    }
}

// The converted file loaded into the engine behind our own providers, cleaning links.
class FilterConversionTest : public ::testing::Test {
protected:
    std::string clean(const std::string& providers, std::string_view url) {
        engine.loadRuleBundle(R"({"providers": {}})", providers);
        URLCleaner cleaner(engine);
        const auto outcome = cleaner.cleanWithOutcome(url);
        return outcome.result() != nullptr ? outcome.result()->cleanedURL : std::string(url);
    }

    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, {nullptr, nullptr, [](std::string_view) {}}};
};

TEST_F(FilterConversionTest, ConvertedRulesCleanAsTheListMeansWithItsExceptions) {
    const std::string own = R"({"providers": {"ours": {"urlPattern": "^https?:\\/\\/", "rules": ["ourtag"]}}})";
    const std::vector<FilterListFile> lists{
        {"general", "! GLAMI click id\n$removeparam=gci\n$removeparam=kmtag\n! Mailchimp\n$removeparam=mc_x\n"},
        {"specific",
         "||shop.example^$removeparam=ref_src\n$removeparam=sid,domain=forum.example\n"
         "||shop.example^$removeparam\n$removeparam=bad\xff\n"},
    };
    const std::string allowlist =
        "! breaks sign-in\n@@||login.example^$removeparam=gci\n"
        "@@||shop.example/checkout$removeparam\n@@||other.example^$removeparam=nothere\n";
    const auto conversion = convertFilterLists(own, lists, allowlist, "List");
    ASSERT_TRUE(conversion);
    const auto& report = conversion->report;
    EXPECT_EQ(report.rulesTaken, 5U);
    EXPECT_EQ(report.skipped.at(SkipReason::wholeQuery), 1U);
    // Bytes that are not text would make the written file unwritable.
    EXPECT_EQ(report.skipped.at(SkipReason::notText), 1U);
    EXPECT_EQ(report.exceptionsApplied, 2U);
    EXPECT_EQ(report.exceptionsUnmatched, 1U);

    const auto& providers = conversion->document.at("providers");
    EXPECT_EQ(providers.begin().key(), "ours");
    EXPECT_EQ(providers.at("List: every site, advertising").at("rules"), nlohmann::json({"kmtag"}));
    EXPECT_EQ(providers.at("List: every site, email marketing").at("category"), "Email Marketing");

    const std::string file = conversion->document.dump();
    EXPECT_EQ(clean(file, "https://a.example/?q=1&gci=2&kmtag=3&mc_x=4&ourtag=5"), "https://a.example/?q=1");
    // The exception keeps only the name it names, only on its site.
    EXPECT_EQ(clean(file, "https://login.example/?gci=2&kmtag=3"), "https://login.example/?gci=2");
    EXPECT_EQ(clean(file, "https://www.shop.example/p?ref_src=x&id=1"), "https://www.shop.example/p?id=1");
    EXPECT_EQ(clean(file, "https://shop.example/checkout?ref_src=x&id=1"),
              "https://shop.example/checkout?ref_src=x&id=1");
    EXPECT_EQ(clean(file, "https://forum.example/t?sid=1&p=2"), "https://forum.example/t?p=2");
    EXPECT_EQ(clean(file, "https://elsewhere.example/t?sid=1&ref_src=2"),
              "https://elsewhere.example/t?sid=1&ref_src=2");
}

TEST(FilterConversionShippedTest, TheShippedListConvertsWithTheseCounts) {
    const std::filesystem::path folder =
        std::filesystem::path(TESSARIL_SOURCE_DIR) / "resources/Tessaril_TessarilCore.bundle/url-tracking-filter";
    const auto read = [&](const char* name) { return testing::readFile(folder / name); };
    const auto conversion = convertFilterLists(R"({"providers": {}})",
                                               {{"general_url", read("general_url.txt")}, {"sites", read("sites.txt")}},
                                               read("allowlist.txt"), "List");
    ASSERT_TRUE(conversion);
    // A change here means the list or the converter changed what ships: read the converter's output.
    EXPECT_EQ(conversion->report.summary(),
              "took 2216 rules into 914 providers\n"
              "left out 25 that remove every parameter\n"
              "left out 2 that keep only one parameter\n"
              "left out 4 that match parameter values\n"
              "left out 47 that apply to scripts, images or XHR only\n"
              "left out 35 that match a URL pattern not anchored at a host\n"
              "left out 3 that use another modifier\n"
              "left out 5 that are not parameter rules\n"
              "applied 34 exceptions; 1 named parameters no converted rule removes there\n"
              "left out 2 exceptions that use another modifier\n");
}

}  // namespace
}  // namespace tessaril::filters
