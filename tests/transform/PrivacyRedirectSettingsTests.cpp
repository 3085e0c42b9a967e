// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/transform/PrivacyRedirectInfo.h"
#include "core/transform/PrivacyRedirectSettings.h"
#include "core/transform/PrivacyRedirectSettingsStore.h"

#include <gtest/gtest.h>

#include <vector>

namespace tessaril {
namespace {

TEST(PrivacyRedirectSettingsTest, ReadsDefaultsWithStatedFallbacks) {
    InMemoryUserDefaults defaults;
    EXPECT_EQ(PrivacyRedirectSettings(defaults), PrivacyRedirectSettings(false, false, "https://safereddit.com"));
    defaults.set("privacyRedirects_xRedirectEnabled", true);
    defaults.set("privacyRedirects_redditRedirectEnabled", std::int64_t{1});  // wrong type reads as missing
    defaults.set("privacyRedirects_redditFrontendBaseURL", std::string("  r.example/ "));
    EXPECT_EQ(PrivacyRedirectSettings(defaults), PrivacyRedirectSettings(true, false, "  r.example/ "));
}

TEST(PrivacyRedirectSettingsTest, JsonForms) {
    const PrivacyRedirectSettings settings(true, false, "https://r.example");
    EXPECT_EQ(settings.toJson().dump(),
              R"({"xRedirectEnabled":true,"redditRedirectEnabled":false,"redditFrontendBaseURL":"https://r.example"})");
    EXPECT_EQ(PrivacyRedirectSettings::fromJson(nlohmann::json::parse(settings.toJson().dump())), settings);
    EXPECT_EQ(PrivacyRedirectSettings::fromJson(nlohmann::json{{"redditRedirectEnabled", true}}),
              PrivacyRedirectSettings(false, true, "https://safereddit.com"));
    EXPECT_EQ(PrivacyRedirectSettings::fromJson(nlohmann::json{{"xRedirectEnabled", "yes"}}), std::nullopt);
    EXPECT_EQ(PrivacyRedirectSettings::fromJson(nlohmann::json::array()), std::nullopt);

    const PrivacyRedirectInfo info{PrivacyRedirectService::reddit, "old.reddit.com", "r.example"};
    auto json = nlohmann::json::parse(info.toJson().dump());
    EXPECT_EQ(info.toJson().dump(),
              R"({"service":"reddit","originalHost":"old.reddit.com","frontendHost":"r.example"})");
    EXPECT_EQ(PrivacyRedirectInfo::fromJson(json), info);
    json["service"] = "mastodon";
    EXPECT_EQ(PrivacyRedirectInfo::fromJson(json), std::nullopt);
}

TEST(PrivacyRedirectSettingsStoreTest, ReadsOnceWritesThroughAndAnnouncesRealChanges) {
    InMemoryUserDefaults defaults;
    defaults.set("privacyRedirects_redditRedirectEnabled", true);
    PrivacyRedirectSettingsStore store(defaults);
    std::vector<PrivacyRedirectSettings> seen;
    auto connection = store.settingsChanged().connect([&](const PrivacyRedirectSettings& s) { seen.push_back(s); });

    store.setXRedirectEnabled(true);
    store.setXRedirectEnabled(true);  // no change, no announcement
    store.setRedditFrontendBaseURL(" r.example ");
    store.setRedditRedirectEnabled(false);

    ASSERT_EQ(seen.size(), 3U);
    EXPECT_EQ(seen[0], PrivacyRedirectSettings(true, true, "https://safereddit.com"));
    EXPECT_EQ(seen[2], PrivacyRedirectSettings(true, false, " r.example "));
    EXPECT_EQ(PrivacyRedirectSettingsStore(defaults).settings(), seen[2]);
}

}  // namespace
}  // namespace tessaril
