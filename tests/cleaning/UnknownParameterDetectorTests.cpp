// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/UnknownParameterDetector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaril {
namespace {

using Names = std::vector<std::string>;
using UnknownParameterDetector::inspect;

TEST(UnknownParameterDetectorTest, ReportsSuspiciousNamesSortedByteWiseOnce) {
    EXPECT_EQ(inspect("https://example.com/p?utm_custom=1&share_id=2&Share_ref=3"),
              (Names{"Share_ref", "share_id", "utm_custom"}));
    EXPECT_EQ(inspect("https://example.com/?TRACKING_x&tracker_y=&Campaign_z=1&referral_q=1&my_utm_a=1&utmx=1"),
              (Names{"Campaign_z", "TRACKING_x", "referral_q", "tracker_y"}));
    // Judged decoded, so differently written duplicates count once; the fragment is not a query.
    EXPECT_EQ(inspect("https://example.com/?utm%5Fa=1&utm_a=2&utm_a=3#utm_frag=1"), (Names{"utm_a"}));

    std::string twenty = "HTTP://example.com/?";
    for (char c = 't'; c >= 'a'; --c)
        twenty += std::string("utm_") + c + "=1&";
    EXPECT_EQ(inspect(twenty), (Names{"utm_a", "utm_b", "utm_c", "utm_d", "utm_e", "utm_f", "utm_g", "utm_h", "utm_i",
                                      "utm_j", "utm_k", "utm_l"}));
}

TEST(UnknownParameterDetectorTest, NameShapeIsEnforced) {
    const std::string longest = "utm_" + std::string(60, 'a');  // 64 characters
    EXPECT_EQ(inspect("https://example.com/?" + longest + "=1&" + longest + "a=1"), (Names{longest}));
    EXPECT_EQ(inspect("https://example.com/?-utm_a=1&.share_b=1&utm%20c=1&utm_d+e=1&share_%C3%A9=1&utm_%FF=1"),
              Names{});
    EXPECT_EQ(inspect("https://example.com/?utm_a.b~c-d=1&share_9=1"), (Names{"share_9", "utm_a.b~c-d"}));
}

TEST(UnknownParameterDetectorTest, RefusesCredentialsOtherSchemesAndOverlongLinks) {
    for (auto link :
         {"https://user@example.com/?utm_a=1", "https://user:pw@example.com/?utm_a=1", "mailto:a@example.com?utm_a=1",
          "ftp://example.com/?utm_a=1", "https:///p?utm_a=1", "/relative?utm_a=1", "https://example.com/?utm_a=1 x"}) {
        EXPECT_EQ(inspect(link), Names{}) << link;
    }
    // The limit is in bytes: "é" is two.
    const std::string head = "https://example.com/?utm_a=1&pad=";
    const std::string exact = head + std::string(16384 - head.size() - 2, 'x') + "\xC3\xA9";
    ASSERT_EQ(exact.size(), 16384U);
    EXPECT_EQ(inspect(exact), (Names{"utm_a"}));
    EXPECT_EQ(inspect(exact + "x"), Names{});
}

}  // namespace
}  // namespace tessaril
