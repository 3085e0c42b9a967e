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
    const std::pair<std::string, std::string> cases[] = {
        // A gateway's v3 link around a search click around a tracked link.
        {"https://urldefense.com/v3/__https://www.bing.com/ck/"
         "a?!&&p=4f2a9c&u=a1aHR0cHM6Ly9zaG9wLmV4YW1wbGUuY29tL2l0ZW0_"
         "aWQ9NyZ1dG1fc291cmNlPW5ld3M&ntb=1__;!!G2kpM7uM-TzIFchu!Zx9$",
         "https://shop.example.com/item?id=7"},
        // A base64 safe link around a v2 link around a search redirect around a tracked link.
        {"https://eu-central-1.protection.sophos.com/?d=proofpoint.com&u=aHR0cHM6Ly91cmxkZWZlbnNlLnByb29mcG9pbnQuY29t"
         "L3YyL3VybD91PWh0dHBzLTNBX193d3cuZ29vZ2xlLmNvbV91cmwtM0ZxLTNEaHR0cHMtMjUzQS0yNTJGLTI1MkZuZXdzLmV4YW1wbGUub3Jn"
         "LTI1MkZzdG9yeS0yNTNGaWQtMjUzRDMtMjUyNmZiY2xpZC0yNTNESXdBUjAtMjZzYS0zREQmZD1Ed01GYVEmYz1ldUdaJnI9bzVGcSZtPUsz"
         "eCZzPVFkNCZlPQ%3D%3D&p=m&i=NWY0&t=cDd4&h=8a1f&s=",
         "https://news.example.org/story?id=3"},
        // A safe link around a mail service's click record around a tracked link.
        {"https://nam12.safelinks.protection.outlook.com/?url=https%3A%2F%2Fe.customeriomail.com%2Fe%2Fc%"
         "2FeyJlbWFpbF9pZCI6ImRnVHEiLCJocmVmIjoiaHR0cHM6Ly9zaG9wLmV4YW1wbGUuY29tL2l0ZW0_"
         "aWQ9NyZ1dG1fc291cmNlPW5ld3MiLCJsaW5rX2lkIjo0Mn0%2F8158c82d&data=05%7C02&reserved=0",
         "https://shop.example.com/item?id=7"},
        // A gateway's v3 link keeps the escapes of the wrapper inside it, whose target is encoded.
        {"https://urldefense.com/v3/__https://l.facebook.com/l.php?u=https%3A%2F%2Fshop.example.com%2Fitem%3Fid%"
         "3D7%26fbclid%3DIwAR0&h=AT0x__;!!G2kpM7uM!Zx9$",
         "https://shop.example.com/item?id=7"},
        // A cached page whose scheme the cache left out is an http one.
        {"https://www-example-org.cdn.ampproject.org/c/www.example.org/a?utm_source=x", "http://www.example.org/a"},
        {"https://www.bing.com/ck/a?!&&p=4f2a9c&u=a1amF2YXNjcmlwdDphbGVydCgxKQ&ntb=1",
         "https://www.bing.com/ck/a?!&&p=4f2a9c&u=a1amF2YXNjcmlwdDphbGVydCgxKQ&ntb=1"},
    };
    for (const auto& [input, expected] : cases) {
        const CleanOutcome outcome = cleaner.cleanWithOutcome(input);
        EXPECT_EQ(outcome.result() != nullptr ? outcome.result()->cleanedURL : input, expected) << input;
    }
}

}  // namespace
}  // namespace tessaril
