// SPDX-License-Identifier: GPL-3.0-or-later
// Wrappers that carry their target encoded: each decoder's edge cases as one table (in tests/data), then wrappers
// nested in one another cleaned through the shipped rules.
#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/WrapperDecoding.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "tests/cleaning/RulesTestSupport.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tessaril {
namespace {

using enum WrapperEncoding;

TEST(WrapperDecoding, DecodesOrRefusesEachForm) {
    const auto cases = testing::readCases("cleaning/wrapped-targets.json");
    ASSERT_GT(cases.size(), 40U);
    for (const auto& row : cases) {
        const std::string captured = row[1];
        const auto expected = row[2].is_null() ? std::nullopt : std::optional(row[2].get<std::string>());
        EXPECT_EQ(decodeWrappedTarget(*wrapperEncodingFromRawValue(row[0].get<std::string>()), captured), expected)
            << row[0] << " " << captured;
    }
    // A capture past the limit is refused before any decoding.
    std::string longLink = "https://example.com/";
    longLink.resize(kMaximumEncodedTarget + 1, 'a');
    EXPECT_EQ(decodeWrappedTarget(urlDefenseV3, longLink + "__;!!G2k!Zx9$"), std::nullopt);
    longLink.resize(kMaximumEncodedTarget - 20);
    EXPECT_EQ(decodeWrappedTarget(urlDefenseV3, longLink + "__;!!G2k!Zx9$"), longLink);
}

// Wrappers two and three deep, plain and encoded in turn, unwrap to the cleaned link; a target that
// is no link leaves the wrapper as it is.
TEST(WrapperDecoding, NestedWrappersCleanThroughTheShippedRules) {
    const std::string bundle = TESSARIL_SHIPPED_BUNDLE_DIR "/";
    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, {nullptr, nullptr, [](std::string_view) {}}};
    ASSERT_TRUE(engine.loadRuleBundle(testing::readFile(bundle + "data.min.json"),
                                      testing::readFile(bundle + "tessaril-supplementary.json")));
    URLCleaner cleaner(engine);
    const auto cases = testing::readCases("cleaning/nested-wrappers.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const std::string input = row[0];
        const CleanOutcome outcome = cleaner.cleanWithOutcome(input);
        EXPECT_EQ(outcome.result() != nullptr ? outcome.result()->cleanedURL : input, row[1]) << input;
    }
}

}  // namespace
}  // namespace tessaril
