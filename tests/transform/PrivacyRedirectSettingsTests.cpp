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
    EXPECT_EQ(PrivacyRedirectSettings(defaults), PrivacyRedirectSettings::disabled);
    EXPECT_FALSE(PrivacyRedirectSettings::disabled.xRedirectEnabled);
    EXPECT_FALSE(PrivacyRedirectSettings::disabled.redditRedirectEnabled);
    EXPECT_EQ(PrivacyRedirectSettings::disabled.redditFrontendBaseURL, "https://safereddit.com");

    defaults.set("privacyRedirects_xRedirectEnabled", true);
    defaults.set("privacyRedirects_redditFrontendBaseURL", std::string("  redlib.example.org/ "));
    PrivacyRedirectSettings read(defaults);
    EXPECT_TRUE(read.xRedirectEnabled);
    EXPECT_FALSE(read.redditRedirectEnabled);
    // Kept as typed; normalising happens when a link is rewritten.
    EXPECT_EQ(read.redditFrontendBaseURL, "  redlib.example.org/ ");

    // A value of another type reads as missing.
    defaults.set("privacyRedirects_redditRedirectEnabled", std::int64_t{1});
    defaults.set("privacyRedirects_redditFrontendBaseURL", true);
    PrivacyRedirectSettings odd(defaults);
    EXPECT_FALSE(odd.redditRedirectEnabled);
    EXPECT_EQ(odd.redditFrontendBaseURL, "https://safereddit.com");
}

TEST(PrivacyRedirectSettingsTest, SaveAndReadBack) {
    InMemoryUserDefaults defaults;
    const PrivacyRedirectSettings settings(false, true, "redlib.example.org");
    settings.save(defaults);
    EXPECT_EQ(PrivacyRedirectSettings(defaults), settings);
    EXPECT_EQ(defaults.boolValue("privacyRedirects_redditRedirectEnabled"), true);
}

TEST(PrivacyRedirectSettingsTest, JsonFormAndLenientDecoding) {
    const PrivacyRedirectSettings settings(true, false, "https://r.example");
    EXPECT_EQ(settings.toJson().dump(),
              R"({"xRedirectEnabled":true,"redditRedirectEnabled":false,"redditFrontendBaseURL":"https://r.example"})");
    EXPECT_EQ(PrivacyRedirectSettings::fromJson(nlohmann::json::parse(settings.toJson().dump())), settings);

    // Missing keys take their defaults.
    EXPECT_EQ(PrivacyRedirectSettings::fromJson(nlohmann::json::object()), PrivacyRedirectSettings::disabled);
    auto partial = PrivacyRedirectSettings::fromJson(nlohmann::json{{"redditRedirectEnabled", true}});
    ASSERT_TRUE(partial);
    EXPECT_EQ(*partial, PrivacyRedirectSettings(false, true, "https://safereddit.com"));

    // A present key of the wrong type, or not an object at all, fails.
    EXPECT_EQ(PrivacyRedirectSettings::fromJson(nlohmann::json{{"xRedirectEnabled", "yes"}}), std::nullopt);
    EXPECT_EQ(PrivacyRedirectSettings::fromJson(nlohmann::json{{"redditFrontendBaseURL", nullptr}}), std::nullopt);
    EXPECT_EQ(PrivacyRedirectSettings::fromJson(nlohmann::json::array()), std::nullopt);
}

TEST(PrivacyRedirectInfoTest, JsonRoundTripAndRejections) {
    const PrivacyRedirectInfo info{PrivacyRedirectService::reddit, "old.reddit.com", "r.example"};
    EXPECT_EQ(info.toJson().dump(),
              R"({"service":"reddit","originalHost":"old.reddit.com","frontendHost":"r.example"})");
    EXPECT_EQ(PrivacyRedirectInfo::fromJson(nlohmann::json::parse(info.toJson().dump())), info);
    EXPECT_EQ(rawValue(PrivacyRedirectService::xTwitter), "xTwitter");

    auto json = nlohmann::json::parse(info.toJson().dump());
    json["service"] = "mastodon";
    EXPECT_EQ(PrivacyRedirectInfo::fromJson(json), std::nullopt);
    json["service"] = "reddit";
    json.erase("frontendHost");
    EXPECT_EQ(PrivacyRedirectInfo::fromJson(json), std::nullopt);
}

TEST(PrivacyRedirectSettingsStoreTest, ReadsOnceWritesThroughAndAnnouncesRealChanges) {
    InMemoryUserDefaults defaults;
    defaults.set("privacyRedirects_redditRedirectEnabled", true);
    PrivacyRedirectSettingsStore store(defaults);
    EXPECT_EQ(store.settings(), PrivacyRedirectSettings(false, true, "https://safereddit.com"));

    std::vector<PrivacyRedirectSettings> seen;
    auto connection = store.settingsChanged().connect([&](const PrivacyRedirectSettings& s) { seen.push_back(s); });

    // Read once: a later foreign write does not leak into the store's value.
    defaults.set("privacyRedirects_xRedirectEnabled", true);
    EXPECT_FALSE(store.settings().xRedirectEnabled);
    defaults.remove("privacyRedirects_xRedirectEnabled");

    store.setXRedirectEnabled(true);
    store.setXRedirectEnabled(true);  // no change, no announcement
    store.setRedditFrontendBaseURL(" r.example ");
    store.setRedditRedirectEnabled(false);

    ASSERT_EQ(seen.size(), 3U);
    EXPECT_EQ(seen[0], PrivacyRedirectSettings(true, true, "https://safereddit.com"));
    EXPECT_EQ(seen[2], PrivacyRedirectSettings(true, false, " r.example "));
    EXPECT_EQ(PrivacyRedirectSettings(defaults), seen[2]);
    EXPECT_EQ(PrivacyRedirectSettingsStore(defaults).settings(), seen[2]);
}

}  // namespace
}  // namespace tessaril
