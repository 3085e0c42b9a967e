// SPDX-License-Identifier: GPL-3.0-or-later
// The shipped rule files as the tool loads them: the supplementary providers must catch what they
// are written for, stay on their own sites and never touch a parameter a site needs.
#include "core/cleaning/Provider.h"
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/URLComponents.h"
#include "tests/cleaning/RulesTestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

namespace tessaril {
namespace {

namespace fs = std::filesystem;

const fs::path kBundle = TESSARIL_SHIPPED_BUNDLE_DIR;
const fs::path kData = fs::path(TESSARIL_SOURCE_DIR) / "tests/data/supplementary";
// Providers whose URL pattern is this apply to every web link on purpose.
constexpr std::string_view kEveryWebLink = "^https?:\\/\\/";

// One engine and cleaner over a pair of rule files, with throwaway settings.
struct ShippedCleaner {
    explicit ShippedCleaner(bool withSupplementary) {
        const std::string main = testing::readFile(kBundle / "data.min.json");
        const std::string supplementary = testing::readFile(kBundle / "tessaril-supplementary.json");
        loaded = withSupplementary ? engine.loadRuleBundle(main, supplementary) : engine.loadRules(main);
    }

    // The link the tool would print: the cleaned link, or the input when nothing changed.
    std::string clean(std::string_view url) {
        const CleanOutcome outcome = cleaner.cleanWithOutcome(url);
        return outcome.result() != nullptr ? outcome.result()->cleanedURL : std::string(url);
    }

    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, {nullptr, nullptr, [](std::string_view) {}}};
    URLCleaner cleaner{engine};
    bool loaded = false;
};

nlohmann::ordered_json readJson(const fs::path& path) {
    return nlohmann::ordered_json::parse(testing::readFile(path), nullptr, false);
}

const nlohmann::ordered_json& shippedProviders() {
    static const nlohmann::ordered_json document = readJson(kBundle / "tessaril-supplementary.json");
    return document.at("providers");
}

// Our own, hand-written providers: the first of the shipped file's, before the converted filter list.
const nlohmann::ordered_json& ownProviders() {
    static const nlohmann::ordered_json document =
        readJson(fs::path(TESSARIL_SOURCE_DIR) / "resources/tessaril-own-providers.json");
    return document.at("providers");
}

// The provider of that name among those the supplementary file added (after the main file's).
const CompiledProvider* supplementaryProvider(const RulesEngine& engine, std::string_view name) {
    const auto& compiled = engine.compiledProviders();
    const std::size_t first = compiled.size() - shippedProviders().size();
    for (std::size_t i = first; i < compiled.size(); ++i) {
        if (compiled[i].name == name) return &compiled[i];
    }
    return nullptr;
}

// Every pattern of every shipped provider compiles: nothing is skipped silently.
TEST(SupplementaryRules, ShippedFileDecodesAndEveryPatternCompiles) {
    ASSERT_TRUE(shippedProviders().is_object());
    ASSERT_GE(shippedProviders().size(), 10u);
    ShippedCleaner shipped(true);
    ASSERT_TRUE(shipped.loaded);

    const auto mainFile = ProvidersFile::decode(testing::readFile(kBundle / "data.min.json"));
    ASSERT_TRUE(mainFile);
    std::set<std::string> mainNames;
    for (const auto& [name, provider] : mainFile->providers)
        mainNames.insert(name);

    for (const auto& [name, json] : shippedProviders().items()) {
        SCOPED_TRACE(name);
        // A name shared with the main file would make its rules hard to tell apart in the rule list.
        EXPECT_FALSE(mainNames.contains(name));
        const CompiledProvider* compiled = supplementaryProvider(shipped.engine, name);
        ASSERT_NE(compiled, nullptr);
        const std::pair<const char*, std::size_t> counts[] = {
            {"rules", compiled->paramRegexes.size()},
            {"referralMarketing", compiled->referralParamRegexes.size()},
            {"exceptions", compiled->exceptionRegexes.size()},
            {"redirections", compiled->redirectionRegexes.size()},
            {"encodedRedirections", compiled->encodedRedirectionRegexes.size()},
            {"rawRules", compiled->rawRuleRegexes.size()}};
        for (const auto& [key, count] : counts)
            EXPECT_EQ(count, json.value(key, nlohmann::json::array()).size()) << key;
        // Affiliate tags live in referralMarketing, where the Referral Marketing switch reaches them.
        if (!compiled->redirectionRegexes.empty() || !compiled->encodedRedirectionRegexes.empty()) {
            EXPECT_EQ(compiled->category, RuleCategoryType::redirectUnwrapping);
            EXPECT_TRUE(compiled->paramRegexes.empty() && compiled->referralParamRegexes.empty());
        }
    }
}

// The input with its host replaced.
std::string withHost(const std::string& url, std::string_view host) {
    const std::size_t start = url.find("://") + 3;
    const std::size_t end = url.find_first_of("/?#", start);
    return url.substr(0, start) + std::string(host) + (end == std::string::npos ? "" : url.substr(end));
}

// Each provider's tracked links come out exactly as expected, and it is the supplementary
// provider that does the work: the main file alone leaves those links otherwise. A site-specific
// provider reaches neither look-alike hosts nor links that only mention its site.
TEST(SupplementaryRules, TrackedLinksCleanToTheExpectedLinkOnlyOnTheirSites) {
    const auto table = readJson(kData / "tracked-links.json");
    ASSERT_TRUE(table.is_object());
    ShippedCleaner shipped(true);
    ShippedCleaner mainOnly(false);
    ASSERT_TRUE(shipped.loaded && mainOnly.loaded);

    std::size_t cases = 0;
    for (const auto& [name, entry] : table.at("providers").items()) {
        SCOPED_TRACE(name);
        const CompiledProvider* provider = supplementaryProvider(shipped.engine, name);
        ASSERT_NE(provider, nullptr) << "the table names a provider the file lacks";
        ASSERT_FALSE(entry.at("cases").empty());
        const bool everywhere = provider->urlRegex.pattern() == kEveryWebLink;
        ASSERT_NE(everywhere, entry.contains("domains")) << "a site-specific provider lists its domains";
        for (const auto& testCase : entry.at("cases")) {
            const std::string input = testCase.at(0);
            const std::string expected = testCase.at(1);
            SCOPED_TRACE(input);
            EXPECT_TRUE(provider->urlRegex.search(input));
            EXPECT_EQ(shipped.clean(input), expected);
            EXPECT_NE(mainOnly.clean(input), expected);
            ++cases;
            const auto url = URLComponents::parse(input);
            const std::string host(url ? url->percentEncodedHost().value_or("") : "");
            for (const std::string domain : entry.value("domains", nlohmann::json::array())) {
                if (!host.ends_with(domain)) continue;
                for (const std::string& lookalike :
                     {withHost(input, host + ".evil.org"), withHost(input, "not" + domain),
                      withHost(input, domain + "@evil.org"), withHost(input, domain + ":443@evil.org"),
                      withHost(input, domain + "-evil.org"), "https://evil.org/go?to=" + input,
                      "https://evil.org/" + input}) {
                    EXPECT_FALSE(provider->urlRegex.search(lookalike)) << lookalike;
                }
            }
        }
    }
    for (const auto& [name, json] : ownProviders().items())
        EXPECT_TRUE(table.at("providers").contains(name)) << name << " has no tracked links";
    EXPECT_GE(cases, ownProviders().size());
}

// Affiliate tags answer to the Referral Marketing switch; the shops' other tracking does not.
TEST(SupplementaryRules, ReferralMarketingSwitchKeepsAffiliateTags) {
    ShippedCleaner shipped(true);
    ASSERT_TRUE(shipped.loaded);
    auto& referral = testing::category(shipped.engine, RuleCategoryType::referralMarketing);
    ASSERT_EQ(referral.type(), RuleCategoryType::referralMarketing);
    referral.setEnabled(false);

    EXPECT_EQ(shipped.clean("https://www.amazon.de/dp/B09B8V1LZ3?linkId=0f9e&hvadid=5987&psc=1"),
              "https://www.amazon.de/dp/B09B8V1LZ3?linkId=0f9e&psc=1");
    const std::string impact = "https://www.example-store.com/product/9?irclickid=TzP1&sku=9";
    EXPECT_EQ(shipped.clean(impact), impact);

    referral.setEnabled(true);
    EXPECT_EQ(shipped.clean(impact), "https://www.example-store.com/product/9?sku=9");
}

// Links whose parameters a site needs leave the shipped rules exactly as they came.
TEST(SupplementaryRules, NeededLinksStayUnchanged) {
    std::istringstream lines(testing::readFile(kData / "needed-links.txt"));
    ShippedCleaner shipped(true);
    ShippedCleaner mainOnly(false);
    ASSERT_TRUE(shipped.loaded && mainOnly.loaded);

    std::size_t links = 0;
    std::string broken;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line.starts_with('#')) continue;
        ++links;
        if (line.starts_with("! ")) {
            // The main file already changes this link; the supplementary rules must add nothing.
            const std::string link = line.substr(2);
            const std::string expected = mainOnly.clean(link);
            if (shipped.clean(link) != expected) broken += link + "\n  -> " + shipped.clean(link) + "\n";
            if (expected == link) broken += link + "\n  is no longer changed: drop the \"! \" mark\n";
            continue;
        }
        const std::string cleaned = shipped.clean(line);
        if (cleaned != line) broken += line + "\n  -> " + cleaned + "\n";
    }
    EXPECT_GE(links, 250u);
    EXPECT_EQ(broken, "");
}

}  // namespace
}  // namespace tessaril
