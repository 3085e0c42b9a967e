// SPDX-License-Identifier: GPL-3.0-or-later
// Wrappers that carry their target encoded: each decoder's edge cases as one table, then wrappers
// nested in one another cleaned through the shipped rules.
#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/WrapperDecoding.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "tests/cleaning/RulesTestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tessaril {
namespace {

using enum WrapperEncoding;

struct DecodeCase {
    WrapperEncoding encoding;
    std::string_view captured;
    // Empty when nothing may come out.
    std::string_view target;
};

// "https://shop.example.com/item?id=7&utm_source=news" in base64url holds a "_".
constexpr std::string_view kShopUrlSafe = "aHR0cHM6Ly9zaG9wLmV4YW1wbGUuY29tL2l0ZW0_aWQ9NyZ1dG1fc291cmNlPW5ld3M";
constexpr std::string_view kShop = "https://shop.example.com/item?id=7&utm_source=news";

constexpr DecodeCase kDecodeCases[] = {
    // Padding is optional, but when written it must complete the last group.
    {base64url, kShopUrlSafe, kShop},
    {base64url, "aHR0cHM6Ly9zaG9wLmV4YW1wbGUuY29tL2l0ZW0_aWQ9NyZ1dG1fc291cmNlPW5ld3M=", kShop},
    {base64url, "aHR0cHM6Ly9zaG9wLmV4YW1wbGUuY29tL2l0ZW0_aWQ9NyZ1dG1fc291cmNlPW5ld3M==", ""},
    {base64, "aHR0cHM6Ly9leGFtcGxlLmNvbS8/cT0+Pj4/Pw==", "https://example.com/?q=>>>??"},
    {base64, "aHR0cHM6Ly9leGFtcGxlLmNvbS8/cT0+Pj4/Pw", "https://example.com/?q=>>>??"},
    {base64, "aHR0cHM6Ly9leGFtcGxlLmNvbS8/cT0+Pj4/Pw%3D%3D", "https://example.com/?q=>>>??"},
    {base64, "aHR0cHM6Ly9leGFtcGxlLmNvbS8/cT0+Pj4/P", ""},     // a group of one character
    {base64, "aHR0cHM6Ly9leGFt=cGxlLmNvbS8/cT0+Pj4/Pw", ""},   // padding inside
    {base64, "aHR0cHM6Ly9leGFtcGxlLmNvbS8/cT0+Pj4/Pw%3", ""},  // an escape cut short
    // Each alphabet refuses the other's two characters, and anything else.
    {base64, kShopUrlSafe, ""},
    {base64url, "aHR0cHM6Ly9leGFtcGxlLmNvbS8/cT0+Pj4/Pw", ""},
    {base64url, "aHR0cHM6Ly9leGFtcGxlLmNvbS9+fn4_ aGk", ""},
    {base64, "", ""},
    // What decodes must be a web link in UTF-8 with no control character; white space at its end
    // goes, as with any captured target.
    {base64, "amF2YXNjcmlwdDphbGVydCgxKQ==", ""},      // javascript:alert(1)
    {base64, "aHR0cHM6Ly9hLmV4YW1wbGUvG1szMW0=", ""},  // an escape sequence
    {base64, "aHR0cHM6Ly9hLmV4YW1wbGUv/w==", ""},      // a byte that is no UTF-8
    {base64, "aHR0cHM6Ly9hLmV4YW1wbGUveAo=", "https://a.example/x"},
    // Dashes and underscores stand for "%" and "/"; the escapes must then decode.
    {urlDefenseV2, "https-3A__www.example.com_path-2Da_b-5Fc-3Fx-3D1-26y-3D2",
     "https://www.example.com/path-a/b_c?x=1&y=2"},
    {urlDefenseV2, "https-3A__www.example.com_-ZZ", ""},
    {urlDefenseV2, "https-3A__www.example.com_-0Ax", ""},
    {urlDefenseV2, "ftp-3A__files.example.com_", ""},
    // Stars take the characters after "__;" in order: one each, or a run of 2 (A) ... 65 (_).
    {urlDefenseV3, "https://www.example.com/a?b=1*c=2*utm_source=mail__;JiY!!G2kpM7uM!Zx9$",
     "https://www.example.com/a?b=1&c=2&utm_source=mail"},
    {urlDefenseV3, "https://example.com/**Ax__;YWI!!G2k!Zx9$", "https://example.com/abx"},
    {urlDefenseV3, "https://example.com/caf*__;w6k!!G2k!Zx9$", "https://example.com/caf\u00E9"},
    {urlDefenseV3, "https://example.com/x%2Fy__;!!G2k!Zx9$", "https://example.com/x/y"},
    {urlDefenseV3, "https:/example.com/x__;!!G2k!Zx9$", "https://example.com/x"},
    {urlDefenseV3, "https://example.com/a*b*__;Jg!!G2k!Zx9$", ""},    // more stars than characters
    {urlDefenseV3, "https://example.com/**Cx__;YWJj!!G2k!Zx9$", ""},  // a run longer than what is left
    {urlDefenseV3, "https://example.com/**~x__;YWJj!!G2k!Zx9$", ""},  // no such run
    {urlDefenseV3, "https://example.com/*__;J+g!!G2k!Zx9$", ""},
    {urlDefenseV3, "https://example.com/x__;", ""},  // cut before the gateway's fields
    {urlDefenseV3, "https://example.com/x", ""},
    {urlDefenseV3, "https://example.com/*x__;Cg!!G2k!Zx9$", ""},  // the star is a line feed
    // A click record's one web link among the object's own members; none, two, a nested one or a
    // record cut short give nothing.
    {base64urlJson, "eyJocmVmIjoiaHR0cHM6Ly9hLmV4YW1wbGUveD95PTEiLCJsaW5rX2lkIjo0fQ", "https://a.example/x?y=1"},
    {base64urlJson, "eyJocmVmIjoiamF2YXNjcmlwdDphbGVydCgxKSIsImUiOiJIVFRQUzovL0EuZXhhbXBsZS8ifQ", "HTTPS://A.example/"},
    {base64urlJson, "eyJlIjoiaHR0cHM6Ly9hLmV4YW1wbGUveCIsInUiOiJodHRwOi8vYi5leGFtcGxlLyJ9", ""},
    {base64urlJson, "eyJlbWFpbF9pZCI6ImFiYyIsIm4iOjJ9", ""},
    {base64urlJson, "WyJodHRwczovL2EuZXhhbXBsZS94Il0", ""},  // an array
    {base64urlJson, "eyJhIjp7ImhyZWYiOiJodHRwczovL2EuZXhhbXBsZS94In19", ""},
    {base64urlJson, "eyJocmVmIjoiaHR0cHM6Ly9hLmV4YW1wbGUveCI", ""},
    // A record that carries its fields as JSON text in one string: one level is looked into.
    {base64urlJson,
     "eyJwIjoie1widVwiOjQ1MjcsXCJ2XCI6MSxcInVybFwiOlwiaHR0cHM6Ly9hLmV4YW1wbGUveD95PTFcIixcImlkXCI6XCJhZTk2XCJ9IiwicyI6I"
     "mc5YXkifQ",
     "https://a.example/x?y=1"},
    {base64urlJson,
     "eyJwIjoie1widXJsXCI6XCJodHRwczovL2EuZXhhbXBsZS94XCJ9IiwicSI6IntcInVybFwiOlwiaHR0cHM6Ly9iLmV4YW1wbGUvXCJ9In0", ""},
    {base64urlJson, "eyJwIjoie1wicVwiOiBcIntcXFwidXJsXFxcIjogXFxcImh0dHBzOi8vYS5leGFtcGxlL3hcXFwifVwifSJ9", ""},
    // A host and what follows it, the scheme left out: the host must look like one.
    {httpsPath, "www.example.com/a/b?c=1", "https://www.example.com/a/b?c=1"},
    {httpsPath, "localhost/x", ""},
    {httpsPath, "user@www.example.com/x", ""},
    {httpsPath, ".example.com/x", ""},
    {httpsPath, "www.example.com/a b", ""},
};

TEST(WrapperDecoding, DecodesOrRefusesEachForm) {
    for (const auto& [encoding, captured, target] : kDecodeCases) {
        const auto expected = target.empty() ? std::nullopt : std::optional<std::string>(target);
        EXPECT_EQ(decodeWrappedTarget(encoding, captured), expected) << rawValue(encoding) << " " << captured;
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
