// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/TrackingImpactAnalyzer.h"
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/Text.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"
#include "tests/cleaning/RulesTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>

namespace tessaril {
namespace {

using Strings = std::vector<std::string>;

std::string cleaningFixture(const std::string& name) {
    return testing::readFile(std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data/cleaning" / name);
}

class URLCleanerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.loadRules(cleaningFixture("providers.json"))); }

    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, {nullptr, nullptr, [](std::string_view) {}}};
    DomainExceptionStore exceptions{defaults};
    CustomBlocklistStore blocklist{defaults};
    URLCleaner cleaner{engine, &exceptions};

    // The cleaned link, or "unchanged".
    std::string cleaned(std::string_view url) {
        const auto result = cleaner.clean(url);
        return result ? result->cleanedURL : "unchanged";
    }
};

// Every case of the table, through the whole pipeline with its stores.
TEST_F(URLCleanerTest, TableOfCases) {
    const auto cases = nlohmann::json::parse(cleaningFixture("clean-cases.json"));
    ASSERT_GT(cases.size(), 30u);
    cleaner.setCustomBlocklist(&blocklist);
    // A caller that keeps only the cleaned link must get the same link and impact summary in every
    // case.
    URLCleaner lean{engine, &exceptions};
    lean.setCustomBlocklist(&blocklist);
    lean.setResultDetail(URLCleaner::ResultDetail::cleanedURLOnly);
    lean.setMatchCounting(URLCleaner::MatchCounting::off);
    for (const auto& testCase : cases) {
        const std::string name = testCase.at("name");
        SCOPED_TRACE(name);
        // Each case starts from empty stores.
        defaults.remove(CustomBlocklistStore::storageKey);
        defaults.remove(DomainExceptionStore::storageKey);
        blocklist.refresh();
        exceptions.refresh();
        for (const auto& rule : testCase.value("blocklist", nlohmann::json::array())) {
            std::optional<std::string> site;
            if (rule.contains("site")) site = rule.at("site").get<std::string>();
            ASSERT_FALSE(blocklist.add(rule.at("parameter").get<std::string>(), site).has_value());
        }
        for (const auto& site : testCase.value("disabledSites", nlohmann::json::array()))
            exceptions.disable(site.get<std::string>());
        auto settings = PrivacyRedirectSettings::fromJson(testCase.value("settings", nlohmann::json::object()));
        ASSERT_TRUE(settings.has_value());
        cleaner.setPrivacyRedirectSettings(*settings);
        lean.setPrivacyRedirectSettings(*settings);

        const std::string input = testCase.at("input");
        const auto& expect = testCase.at("expect");
        const CleanOutcome leanOutcome = lean.cleanWithOutcome(input);
        const CleanOutcome outcome = cleaner.cleanWithOutcome(input);
        ASSERT_EQ(rawValue(outcome.kind()), expect.at("outcome").get<std::string>());
        ASSERT_EQ(leanOutcome.kind(), outcome.kind());
        if (outcome.result() != nullptr) {
            EXPECT_EQ(leanOutcome.result()->cleanedURL, outcome.result()->cleanedURL);
            std::string leanSummary = "kept ";
            TrackingImpactAnalyzer::appendSummary(*leanOutcome.result(), leanSummary);
            EXPECT_EQ(leanSummary, "kept " + outcome.result()->trackingImpactReport().summary);
        }
        if (expect.contains("host")) {
            EXPECT_EQ(*outcome.host(), expect.at("host").get<std::string>());
        }
        const CleanResult* result = outcome.result();
        if (result == nullptr) continue;

        EXPECT_EQ(result->cleanedURL, expect.at("url").get<std::string>());
        const auto actual = result->toJson();
        const auto expectedResult = expect.value("result", nlohmann::json::object());
        for (const auto& [key, value] : expectedResult.items()) {
            if (key == "operations") {
                Strings kinds;
                for (const auto& operation : result->operations)
                    kinds.emplace_back(rawValue(operation.kind));
                EXPECT_EQ(kinds, value.get<Strings>());
            } else {
                EXPECT_EQ(nlohmann::json::parse(actual.at(key).dump()), value) << key;
            }
        }
        // The steps form one chain from the trimmed input to the cleaned link.
        ASSERT_FALSE(result->operations.empty());
        EXPECT_EQ(result->operations.front().inputURL, result->originalURL);
        for (std::size_t i = 1; i < result->operations.size(); ++i)
            EXPECT_EQ(result->operations[i].inputURL, result->operations[i - 1].outputURL);
        EXPECT_EQ(result->operations.back().outputURL, result->cleanedURL);
        EXPECT_EQ(static_cast<std::size_t>(result->paramsRemoved) >= result->removedQueryParameters.size(), true);
    }
}

// Six wrappers are unwrapped at most, and the seventh is the cleaned link itself (the differential
// test compares deeper nesting, to a plain cleaner that shares this limit).
TEST_F(URLCleanerTest, NestedWrappersStopAfterSixLevels) {
    std::vector<std::string> levels = {"https://e.example/a?utm_source=x&id=1"};
    for (int i = 0; i < 7; ++i)
        levels.push_back("https://out.example/r?u=" + text::percentEncode(levels.back(), ""));
    EXPECT_EQ(cleaned(levels[5]), "https://e.example/a?id=1");
    const auto seven = cleaner.clean(levels[7]);
    ASSERT_TRUE(seven.has_value());
    EXPECT_EQ(seven->cleanedURL, levels[1]);
    EXPECT_EQ(seven->operations.size(), 6u);
}

// Found by the cleaning-pipeline fuzzer: cleaning a cleaned link cleaned it again. Unwrapping comes
// first, once; a cut link is matched again for its path rules and parameters, but not unwrapped, so
// a cut that leaves a wrapper the redirections now take (a tracking segment in front of the target,
// or one holding an escape that kept the target from decoding) leaves that wrapper to the next
// clean. It stays so: the operations account for one unwrapping before any cut, and no site makes
// such links.
TEST_F(URLCleanerTest, APathCutCanLeaveAWrapperToTheNextClean) {
    for (const char* link : {"https://jump.example/ref=mail/to=https%3A%2F%2Fe.example%2F",
                             "https://jump.example/to=https%3A%2F%2Fe.example%2F/ref=%86"}) {
        const auto first = cleaner.clean(link);
        ASSERT_TRUE(first.has_value()) << link;
        EXPECT_EQ(first->cleanedURL, "https://jump.example/to=https%3A%2F%2Fe.example%2F");
        EXPECT_EQ(first->operations.size(), 1u);
        EXPECT_EQ(cleaned(first->cleanedURL), "https://e.example/");
    }
}

// Without stored switches the tree is made when first asked for, after the matcher; a rule switched
// off in it from then on is off for that matcher too.
TEST_F(URLCleanerTest, ASwitchInATreeMadeAfterTheMatcherApplies) {
    cleaner.setMatchCounting(URLCleaner::MatchCounting::off);
    EXPECT_EQ(cleaned("https://example.com/?utm_source=x&a=1"), "https://example.com/?a=1");
    RuleEntry* utm = testing::category(engine, RuleCategoryType::analytics).firstRule("Analytics:utm_*");
    ASSERT_NE(utm, nullptr);
    utm->setEnabled(false);
    EXPECT_EQ(cleaned("https://example.com/?utm_source=x&a=1"), "unchanged");
}

// Site rules answer to their category's switch like the rule files' rules (which the differential
// test switches), and a built-in rule of another category goes on.
TEST_F(URLCleanerTest, SiteRulesFollowTheirCategorySwitch) {
    testing::category(engine, RuleCategoryType::socialMedia).setEnabled(false);
    auto reddit = cleaner.clean("https://www.reddit.com/r/x/?js_challenge=1&token=t&share_id=1&utm_source=2");
    ASSERT_TRUE(reddit.has_value());
    EXPECT_EQ(reddit->cleanedURL, "https://www.reddit.com/r/x/?js_challenge=1&token=t&share_id=1");
    testing::category(engine, RuleCategoryType::analytics).setEnabled(false);
    EXPECT_EQ(cleaner.cleanWithOutcome("https://www.google.com/search?q=a&client=b#lkt=1").kind(),
              CleanOutcome::Kind::unchanged);
}

TEST_F(URLCleanerTest, CountsAreSaved) {
    EXPECT_FALSE(defaults.objectExists(RulesEngine::matchCountsKey));
    // Nothing to do: no counts.
    EXPECT_EQ(cleaner.cleanWithOutcome("https://e.example/?id=1").kind(), CleanOutcome::Kind::unchanged);
    EXPECT_FALSE(defaults.objectExists(RulesEngine::matchCountsKey));

    ASSERT_TRUE(cleaner.clean(" https://e.example/?utm_source=1&utm_medium=2 ").has_value());
    auto counts = nlohmann::json::parse(*defaults.dataText(RulesEngine::matchCountsKey));
    EXPECT_EQ(counts["rule:Analytics:utm_*"], 2);
    EXPECT_EQ(counts["cat:Analytics"], 2);

    // A batch run may keep counts in memory and save them once.
    cleaner.setMatchCounting(URLCleaner::MatchCounting::keptInMemory);
    ASSERT_TRUE(cleaner.clean("https://e.example/?utm_source=1").has_value());
    counts = nlohmann::json::parse(*defaults.dataText(RulesEngine::matchCountsKey));
    EXPECT_EQ(counts["cat:Analytics"], 2);
    EXPECT_EQ(engine.categories()[0]->matchCount(), 3);

    // A run whose counts nobody reads does not keep them, and still cleans.
    cleaner.setMatchCounting(URLCleaner::MatchCounting::off);
    const auto uncounted = cleaner.clean("https://e.example/?utm_source=1");
    ASSERT_TRUE(uncounted.has_value());
    EXPECT_EQ(uncounted->matchedRuleIDs, std::vector<std::string>{"Analytics:utm_*"});
    EXPECT_EQ(engine.categories()[0]->matchCount(), 3);
}

TEST_F(URLCleanerTest, NetworkResolutionComesFirst) {
    auto resolved = cleaner.resultAfterNetworkResolution("https://share.example/s/abc",
                                                         "https://e.example/post/1?utm_source=share", "share.example");
    EXPECT_EQ(resolved.originalURL, "https://share.example/s/abc");
    EXPECT_EQ(resolved.cleanedURL, "https://e.example/post/1");
    ASSERT_EQ(resolved.operations.size(), 2u);
    EXPECT_EQ(resolved.operations[0].toJson().dump(),
              R"({"kind":"network_resolution","inputURL":"https://share.example/s/abc",)"
              R"("outputURL":"https://e.example/post/1?utm_source=share","removedParameters":[],"networkUsed":true,)"
              R"("contactedHost":"share.example","note":"User-authorized canonical link resolution"})");
    EXPECT_EQ(resolved.operations[1].kind, CleanOperationKind::localParameterRemoval);

    auto clean = cleaner.resultAfterNetworkResolution("https://share.example/s/b", "https://e.example/p", "h");
    EXPECT_EQ(clean.cleanedURL, "https://e.example/p");
    EXPECT_EQ(clean.paramsRemoved, 0);
    EXPECT_EQ(clean.operations.size(), 1u);
}

// Many parameters must finish quickly and clean correctly; the sanitizer build checks the memory
// side. (Names that do not decode are among the differential test's hostile names; what is no link
// at all is the parser's test and the cleaner fuzzer's.)
TEST_F(URLCleanerTest, ManyParameters) {
    std::string many = "https://e.example/p?";
    for (int i = 0; i < 10000; ++i)
        many += (i % 2 == 0 ? "utm_source=" : "keep") + std::to_string(i) + "=v&";
    many += "last=1";
    const auto start = std::chrono::steady_clock::now();
    auto result = cleaner.clean(many);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->paramsRemoved, 5000);
    EXPECT_TRUE(result->cleanedURL.starts_with("https://e.example/p?keep1=v&keep3=v&"));
    EXPECT_TRUE(result->cleanedURL.ends_with("&keep9999=v&last=1"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace tessaril
