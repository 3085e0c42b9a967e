// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "core/foundation/InMemoryUserDefaults.h"
#include "core/transform/PrivacyRedirectSettings.h"
#include "core/transform/PrivacyRedirectSettingsStore.h"

namespace tessaril {
namespace {

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
