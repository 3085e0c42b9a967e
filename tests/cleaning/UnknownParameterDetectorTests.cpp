// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/UnknownParameterDetector.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaril {
namespace {

using Names = std::vector<std::string>;
using UnknownParameterDetector::inspect;

TEST(UnknownParameterDetectorTest, ReportsSuspiciousNamesSortedByteWiseOnce) {
    const auto cases = testing::readCases("cleaning/unknown-parameters.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases)
        EXPECT_EQ(inspect(row[0].get<std::string>()), row[1].get<Names>()) << row[0];

    std::string twenty = "HTTP://example.com/?";
    for (char c = 't'; c >= 'a'; --c)
        twenty += std::string("utm_") + c + "=1&";
    EXPECT_EQ(inspect(twenty), (Names{"utm_a", "utm_b", "utm_c", "utm_d", "utm_e", "utm_f", "utm_g", "utm_h", "utm_i",
                                      "utm_j", "utm_k", "utm_l"}));
    // A name is at most 64 characters, a link at most 16384 bytes ("é" is two).
    const std::string longest = "utm_" + std::string(60, 'a');
    EXPECT_EQ(inspect("https://example.com/?" + longest + "=1&" + longest + "a=1"), (Names{longest}));
    const std::string head = "https://example.com/?utm_a=1&pad=";
    const std::string exact = head + std::string(16384 - head.size() - 2, 'x') + "\xC3\xA9";
    ASSERT_EQ(exact.size(), 16384U);
    EXPECT_EQ(inspect(exact), (Names{"utm_a"}));
    EXPECT_EQ(inspect(exact + "x"), Names{});
}

}  // namespace
}  // namespace tessaril
