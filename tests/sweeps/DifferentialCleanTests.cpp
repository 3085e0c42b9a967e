// SPDX-License-Identifier: GPL-3.0-or-later
// The indexed engine and the cleaner's fast path against the plain reference, on the benchmark
// corpus and on generated hostile links: same outcome, same CleanResult, same match counts.
#include "tests/cleaning/RulesTestSupport.h"
#include "tests/sweeps/ReferenceCleaner.h"
#include "tests/sweeps/SweepSample.h"

#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/matching/LinkMatch.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/stores/CustomBlocklistStore.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>

namespace tessaril::testing {
namespace {

const std::string kBundle = TESSARIL_SHIPPED_BUNDLE_DIR "/";

// The same rules, switches and stores on two engines, so that match counts can be compared too.
struct Side {
    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults};
    DomainExceptionStore exceptions{defaults};
    CustomBlocklistStore blocklist{defaults};

    bool load() {
        const auto main = readFile(kBundle + "data.min.json");
        const auto supplementary = readFile(kBundle + "tessaril-supplementary.json");
        if (main.empty() || !engine.loadRuleBundle(main, std::string_view(supplementary))) return false;
        engine.addCustomRule("my.param", "my.param", RuleCategoryType::custom);
        engine.addCustomRule("\u017Fid", "long s", RuleCategoryType::custom);  // matches "SID" and "sid"
        // A switched-off rule makes a later rule answer for the same name.
        for (const auto& rule : engine.categories()[0]->rules()) {
            if (rule->id() == "Analytics:(?:%3F)?fbclid" || rule->id() == "Analytics:gclid") rule->setEnabled(false);
        }
        exceptions.disable("www.example.org");
        return !blocklist.add("session_id") && !blocklist.add("ref", "www.amazon.com") && !blocklist.add("Tag");
    }
};

std::string describe(const CleanOutcome& outcome) {
    std::string kind(rawValue(outcome.kind()));
    if (outcome.kind() == CleanOutcome::Kind::skippedDisabled) kind = "skipped:" + *outcome.host();
    return kind + (outcome.result() != nullptr ? " " + outcome.result()->toJson().dump() : "");
}

class DifferentialCleanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fast_.load() || !plain_.load()) GTEST_SKIP() << "shipped rule files not found";
        cleaner_ = std::make_unique<URLCleaner>(fast_.engine, &fast_.exceptions);
        cleaner_->setCustomBlocklist(&fast_.blocklist);
        reference_ = std::make_unique<ReferenceCleaner>(plain_.engine, &plain_.exceptions, plain_.blocklist.rules());
    }

    // Returns false after the first few differences, so a broken index does not flood the log.
    bool compare(const std::string& line) {
        const std::string fast = describe(cleaner_->cleanWithOutcome(line));
        const std::string plain = describe(reference_->clean(line));
        if (fast == plain) return true;
        ADD_FAILURE() << "input: " << line << "\n fast: " << fast << "\nplain: " << plain;
        return ++failures_ < 5;
    }

    void compareCounts() { EXPECT_EQ(fast_.engine.exportRules(), plain_.engine.exportRules()); }

    Side fast_;
    Side plain_;
    std::unique_ptr<URLCleaner> cleaner_;
    std::unique_ptr<ReferenceCleaner> reference_;
    int failures_ = 0;
};

// The words of `text` between single spaces.
std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> list(1);
    for (const char c : text) {
        if (c == ' ')
            list.emplace_back();
        else
            list.back() += c;
    }
    return list;
}

// Unpadded, as a search engine's click wrapper writes its target.
std::string base64url(std::string_view text) {
    constexpr std::string_view kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += 3) {
        const std::size_t bytes = std::min<std::size_t>(3, text.size() - at);
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 3; ++i)
            group = (group << 8U) | (i < bytes ? static_cast<unsigned char>(text[at + i]) : 0U);
        for (std::size_t i = 0; i <= bytes; ++i)
            out += kDigits[(group >> (18 - 6 * i)) & 63U];
    }
    return out;
}

std::string corpusPath() {
    const char* shared = std::getenv("TESSARIL_SHARED_DIR");
    return std::string(shared != nullptr ? shared : TESSARIL_SHARED_DIR) + "/bench/urls-200k.txt";
}

constexpr std::size_t kStride = sweepStride(32);

TEST_F(DifferentialCleanTest, BenchmarkCorpus) {
    std::ifstream corpus(corpusPath(), std::ios::binary);
    if (!corpus) GTEST_SKIP() << "benchmark corpus not found (set TESSARIL_SHARED_DIR)";
    std::string line;
    std::size_t number = 0;
    std::size_t compared = 0;
    while (std::getline(corpus, line)) {
        if (number++ % kStride != 0) continue;
        ++compared;
        if (!compare(line)) break;
    }
    EXPECT_GT(compared, 6000u);
    compareCounts();
}

TEST_F(DifferentialCleanTest, GeneratedHostileLinks) {
    // Look-alike, mixed-case and confusable hosts and names next to the shipped rules' own; two
    // spaces in a row stand for an empty path or name.
    const auto hosts = words(
        "www.amazon.com amazon.co.uk AMAZON.DE amazon.com.evil.org evilamazon.com am\u0430zon.com xn--amazn-mye.com "
        "www.google.com GOOGLE.com google.com.br news.google.co.jp www.youtube.com music.youtube.com MUSIC.YOUTUBE.COM "
        "youtu.be old.reddit.com reddit.com.evil.net x.com twitter.com www.facebook.com l.facebook.com duckduckgo.com "
        "www.example.org example.org stra\u00DFe.de a\uFB00iliate.com \u212Aahoot.it \u212AAHOOT.IT www.bing.com [::1] "
        "192.168.0.1 xn--80ak6aa92e.com sub.aliexpress.ru linkedin.com www.threads.net t.umblr.com href.li "
        "go.skimresources.com track.adform.net www.ebay.de "
        // Sites of the filter list's providers, which the host index answers for.
        "WWW.WINDSCRIBE.COM a..windscribe.com .igromania.ru igromania.ru. yandex.ru mail.YANDEX.com.tr "
        "\u212Aaspersky.de notyandex.ru go.xliirdr.com a\u017F.igromania.ru");
    const auto paths =
        words("/  /dp/B0001/ref=sr_1_1? /search /url /l/ /s /watch /pagead/x /redirect /gp/product/ref=x /a%20b/c");
    const auto names = words(
        "utm_source UTM_Medium utm_\u017Fource %75tm_source %3Futm_source fbclid FBCLID gclid GCLID yclid yclid%0A ref "
        "Ref ref_ REF_SRC tag Tag si SI is client q js_challenge token solution jsc_orig_r __hssc __h\u00DFc "
        "m\u212At_tok mkt_tok session_id my.param MY.PARAM sid SID \u017Fid wt_zmc wtmc xmc p[] sattr[] $deep_link "
        "%24deep_link mr:device pf_rd_p igshid s t id  caf\u00E9 %FF hsa_acc pk_campaign li_fat_id lipi "
        "abcdefghijklmnopqrstuvwxyz_utm");
    std::mt19937 random(20261206);
    auto pick = [&random](const std::vector<std::string>& list) -> const std::string& {
        return list[std::uniform_int_distribution<std::size_t>(0, list.size() - 1)(random)];
    };
    auto chance = [&random](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };
    auto link = [&] {
        std::string url = chance(90) ? "https://" : (chance(50) ? "http://" : "HTTPS://");
        if (chance(10)) url += "user:pass@";
        url += pick(hosts);
        if (chance(10)) url += ":8443";
        url += pick(paths);
        const int params = chance(10) ? 40 : std::uniform_int_distribution<int>(0, 6)(random);
        for (int i = 0; i < params; ++i) {
            url += (i == 0 && url.find('?') == std::string::npos) ? "?" : "&";
            url += pick(names);
            if (chance(85)) url += "=" + std::to_string(random() % 1000);
        }
        if (chance(10)) url += chance(50) ? "#lkt=1" : "#utm_source=x";
        return url;
    };
    // Plain targets, escaped ones and encoded ones (base64url after "a1", a gateway's v3 form after "__").
    const std::vector<std::string> wrappers = {
        "https://www.google.com/url?q=",       "https://duckduckgo.com/l/?uddg=",
        "https://l.facebook.com/l.php?u=",     "https://href.li/?",
        "https://www.youtube.com/redirect?q=", "https://www.bing.com/ck/a?!&&u=a1",
        "https://urldefense.com/v3/__"};
    for (int i = 0; i < 1200; ++i) {
        std::string url = link();
        const int depth = chance(25) ? std::uniform_int_distribution<int>(1, 8)(random) : 0;
        for (int d = 0; d < depth; ++d) {
            const std::string& wrapper = pick(wrappers);
            if (wrapper.ends_with("?"))
                url = wrapper + url;
            else if (wrapper.ends_with("a1"))
                url = wrapper + base64url(url);
            else if (wrapper.ends_with("__"))
                url = wrapper + url + "__;!!G2k!Zx9$";
            else
                url = wrapper + text::percentEncode(url, "");
            if (chance(50)) url += "&utm_source=w";
        }
        if (chance(5)) url = "  " + url + "\n";
        if (!compare(url)) break;
        // The matcher's account of the link, provider by provider, against the plain answers.
        const std::string_view trimmed = text::trim(url);
        const auto explanation = matched(fast_.engine, trimmed).explain();
        const auto plainProviders = reference_->matchingProviders(trimmed);
        ASSERT_EQ(explanation.providers.size(), plainProviders.size()) << url;
        const auto components = URLComponents::parse(trimmed);
        std::vector<std::string> names;
        if (components) {
            auto items = components->queryItems();
            for (const auto& item : items ? *items : components->percentEncodedQueryItems())
                names.push_back(item.name);
        }
        for (std::size_t p = 0; p < plainProviders.size(); ++p) {
            const auto& account = explanation.providers[p];
            ASSERT_EQ(account.provider->name, plainProviders[p]->name) << url;
            if (account.excepted) continue;
            std::vector<std::pair<std::string, std::string>> expected;
            for (const auto& name : names) {
                if (auto id = reference_->shouldStripParam(name, *plainProviders[p])) expected.emplace_back(name, *id);
            }
            EXPECT_EQ(account.parameters, expected) << url;
        }
        std::vector<std::pair<std::string, std::string>> expectedBuiltIn;
        for (const auto& name : names) {
            if (const FallbackRule* rule = reference_->fallbackRule(name))
                expectedBuiltIn.emplace_back(name, rule->ruleID);
        }
        EXPECT_EQ(explanation.builtInRules, expectedBuiltIn) << url;
    }
    compareCounts();
}

}  // namespace
}  // namespace tessaril::testing
