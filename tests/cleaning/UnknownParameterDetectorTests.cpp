// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/UnknownParameterDetector.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tessaril {
namespace {

using Names = std::vector<std::string>;
using UnknownParameterDetector::inspect;

TEST(UnknownParameterDetectorTest, ReportsSuspiciousNamesSortedByteWise) {
    EXPECT_EQ(inspect("https://example.com/p?utm_custom=1&share_id=2&Share_ref=3"),
              (Names{"Share_ref", "share_id", "utm_custom"}));
    // Every listed prefix counts, in any case; names that only contain a prefix later do not.
    EXPECT_EQ(inspect("https://example.com/?TRACKING_x&tracker_y=&Campaign_z=1&referral_q=1&my_utm_a=1&utmx=1&id=7"),
              (Names{"Campaign_z", "TRACKING_x", "referral_q", "tracker_y"}));
    // Names are judged decoded; duplicates, also written differently, are reported once.
    EXPECT_EQ(inspect("https://example.com/?utm%5Fa=1&utm_a=2&utm_a=3#utm_frag=1"), (Names{"utm_a"}));
    EXPECT_EQ(inspect("https://example.com/path"), Names{});
    EXPECT_EQ(inspect("https://example.com/?"), Names{});
    EXPECT_EQ(UnknownParameterDetector::explanation,
              "Unrecognized share or campaign parameters remain. They may be functional, not tracking. Review before "
              "adding a local block.");
}

TEST(UnknownParameterDetectorTest, NameShapeIsEnforced) {
    const std::string longest = "utm_" + std::string(60, 'a');  // 64 characters
    const std::string tooLong = longest + "a";
    EXPECT_EQ(inspect("https://example.com/?" + longest + "=1&" + tooLong + "=1"), (Names{longest}));
    // A leading hyphen or dot, a blank (encoded) or another character outside the set keeps a name out.
    EXPECT_EQ(inspect("https://example.com/?-utm_a=1&.share_b=1&utm%20c=1&utm_d+e=1&share_%C3%A9=1&utm_f%00=1"),
              Names{});
    // The allowed punctuation after the first character is fine, as is a leading underscore or digit.
    EXPECT_EQ(inspect("https://example.com/?utm_a.b~c-d=1&share_9=1"), (Names{"share_9", "utm_a.b~c-d"}));
    // A name whose escapes do not decode to UTF-8 is skipped, not fatal for the rest.
    EXPECT_EQ(inspect("https://example.com/?utm_%FF=1&utm_ok=1"), (Names{"utm_ok"}));
}

TEST(UnknownParameterDetectorTest, KeepsTheFirstTwelveInSortedOrder) {
    std::string link = "https://example.com/?";
    Names expected;
    for (int i = 19; i >= 0; --i) {
        char name[16];
        std::snprintf(name, sizeof name, "utm_%02d", i);
        link += std::string(name) + "=x&";
    }
    for (int i = 0; i < 12; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "utm_%02d", i);
        expected.emplace_back(name);
    }
    EXPECT_EQ(inspect(link), expected);
}

TEST(UnknownParameterDetectorTest, RefusesCredentialsOtherSchemesAndUnparsableLinks) {
    for (auto link : {"https://user@example.com/?utm_a=1", "https://user:pw@example.com/?utm_a=1",
                      "https://:pw@example.com/?utm_a=1", "mailto:a@example.com?utm_a=1", "ftp://example.com/?utm_a=1",
                      "https:///path?utm_a=1", "/relative?utm_a=1", "https://example.com/?utm_a=1 x", ""}) {
        EXPECT_EQ(inspect(link), Names{}) << link;
    }
    EXPECT_EQ(inspect("HTTP://example.com/?utm_a=1"), (Names{"utm_a"}));
}

TEST(UnknownParameterDetectorTest, InputLimitIsInBytes) {
    const std::string head = "https://example.com/?utm_a=1&pad=";
    std::string exact = head + std::string(16384 - head.size(), 'x');
    ASSERT_EQ(exact.size(), 16384U);
    EXPECT_EQ(inspect(exact), (Names{"utm_a"}));
    EXPECT_EQ(inspect(exact + "x"), Names{});
    // Multi-byte characters count by their bytes: 2 bytes each here.
    std::string wide = head + std::string(16384 - head.size() - 2, 'x') + "\xC3\xA9";
    ASSERT_EQ(wide.size(), 16384U);
    EXPECT_EQ(inspect(wide), (Names{"utm_a"}));
    EXPECT_EQ(inspect(wide + "\xC3\xA9"), Names{});
}

}  // namespace
}  // namespace tessaril
