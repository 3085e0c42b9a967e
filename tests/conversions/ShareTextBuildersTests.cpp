// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversions/DualLinkShareBuilder.h"
#include "core/transform/WaybackLinkBuilder.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

namespace tessaril {
namespace {

TEST(WaybackLinkBuilderTest, LooksUpTheTrimmedWebLinkAsWritten) {
    const auto cases = testing::readCases("transform/wayback-links.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const auto expected = row[1].is_null() ? std::nullopt : std::optional(row[1].get<std::string>());
        EXPECT_EQ(WaybackLinkBuilder::lookupURL(row[0].get<std::string>()), expected) << row[0];
    }
}

CleanResult rewritten(std::string siteLink, std::string frontEndLink, PrivacyRedirectService service) {
    CleanResult result;
    result.originalURL = siteLink + "?utm_source=x";
    result.cleanedURL = std::move(frontEndLink);
    result.cleanedOriginalURL = std::move(siteLink);
    result.privacyRedirect = PrivacyRedirectInfo{service, "site.example", "front.example"};
    return result;
}

TEST(DualLinkShareBuilderTest, CarriesBothLinksWithATitleOrTheContext) {
    const auto reddit = [](const std::string& path) {
        return rewritten("https://www.reddit.com" + path, "https://safereddit.com" + path,
                         PrivacyRedirectService::reddit);
    };
    const CleanResult x =
        rewritten("https://x.com/a/status/1", "https://xcancel.com/a/status/1", PrivacyRedirectService::xTwitter);
    CleanResult notRewritten = x;
    notRewritten.privacyRedirect.reset();
    CleanResult sameLink = x;
    sameLink.cleanedOriginalURL = x.cleanedURL;
    CleanResult noSiteLink = x;
    noSiteLink.cleanedOriginalURL.reset();

    // (A post whose slug gives the title, the context passed over, is the tool's share test.)
    const std::pair<std::pair<CleanResult, std::optional<std::string_view>>, std::optional<std::string>> cases[] = {
        {{reddit("/r/cpp/comments/abc/%F0%9F%98%80"), "look"},
         "Reddit post in r/cpp\nhttps://www.reddit.com/r/cpp/comments/abc/%F0%9F%98%80\n\n"
         "Privacy link: https://safereddit.com/r/cpp/comments/abc/%F0%9F%98%80"},
        {{reddit("/r/cpp"), " look\n"},
         "https://www.reddit.com/r/cpp\nlook\n\nPrivacy link: https://safereddit.com/r/cpp"},
        {{x, " \u00A0Worth a read \n"},
         "https://x.com/a/status/1\nWorth a read\n\nPrivacy link: https://xcancel.com/a/status/1"},
        {{x, " \n "}, "https://x.com/a/status/1\n\nPrivacy link: https://xcancel.com/a/status/1"},
        {{x, std::nullopt}, "https://x.com/a/status/1\n\nPrivacy link: https://xcancel.com/a/status/1"},
        {{notRewritten, "look"}, std::nullopt},
        {{sameLink, "look"}, std::nullopt},
        {{noSiteLink, "look"}, std::nullopt},
    };
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(DualLinkShareBuilder::body(input.first, input.second), expected) << input.first.cleanedURL;
}

}  // namespace
}  // namespace tessaril
