// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/transform/PrivacyRedirectSettings.h"
#include "core/transform/PrivacyRedirectSettingsStore.h"
#include "core/transform/PrivacyRedirector.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace tessaril {
namespace {

std::optional<std::string> text(const nlohmann::json& value) {
    return value.is_null() ? std::nullopt : std::optional(value.get<std::string>());
}

TEST(PrivacyRedirectorTest, RewritesOnlyTheListedHostsOfAnEnabledServiceToTheFrontEndsRoot) {
    const auto cases = testing::readCases("transform/privacy-redirects.json");
    ASSERT_GT(cases.size(), 40U);
    for (const auto& row : cases) {
        const PrivacyRedirectSettings settings(row[1], !row[2].is_null(), text(row[2]).value_or(""));
        const auto result = PrivacyRedirector().redirect(row[0].get<std::string>(), settings);
        EXPECT_EQ(result ? std::optional(result->redirectedURL) : std::nullopt, text(row[3])) << row;
    }
    const std::string link = "https://old.reddit.com/r/C%2B%2B/comments/abc/?sort=new&x=%7e+a&&b=#c%20d";
    EXPECT_EQ(PrivacyRedirector().redirect(link, {false, true, "https://safereddit.com"}),
              (PrivacyRedirectResult{link, "https://safereddit.com/r/C%2B%2B/comments/abc/?sort=new&x=%7e+a&&b=#c%20d",
                                     PrivacyRedirectService::reddit, "old.reddit.com", "safereddit.com"}));
}

TEST(PrivacyRedirectorTest, FrontEndSettingIsNormalisedToARoot) {
    const auto cases = testing::readCases("transform/privacy-frontends.json");
    ASSERT_GT(cases.size(), 15U);
    for (const auto& row : cases)
        EXPECT_EQ(PrivacyRedirector::normalizedFrontendBaseURL(row[0].get<std::string>(), text(row[1])), text(row[2]))
            << row;
}

// A value of the wrong type reads as missing, and a missing one as its stated fallback; the store
// writes every change through and announces only real ones.
TEST(PrivacyRedirectSettingsTest, ReadWithFallbacksAndStoredThrough) {
    InMemoryUserDefaults defaults;
    EXPECT_EQ(PrivacyRedirectSettings(defaults), PrivacyRedirectSettings(false, false, "https://safereddit.com"));
    defaults.set("privacyRedirects_xRedirectEnabled", true);
    defaults.set("privacyRedirects_redditRedirectEnabled", std::int64_t{1});
    defaults.set("privacyRedirects_redditFrontendBaseURL", std::string("  r.example/ "));
    EXPECT_EQ(PrivacyRedirectSettings(defaults), PrivacyRedirectSettings(true, false, "  r.example/ "));

    PrivacyRedirectSettingsStore store(defaults);
    std::vector<PrivacyRedirectSettings> seen;
    auto connection = store.settingsChanged().connect([&](const PrivacyRedirectSettings& s) { seen.push_back(s); });
    store.setXRedirectEnabled(true);
    store.setRedditRedirectEnabled(true);
    store.setRedditFrontendBaseURL(" r.example ");
    EXPECT_EQ(seen, (std::vector<PrivacyRedirectSettings>{{true, true, "  r.example/ "}, {true, true, " r.example "}}));
    EXPECT_EQ(PrivacyRedirectSettingsStore(defaults).settings(), seen.back());
}

}  // namespace
}  // namespace tessaril
