// SPDX-License-Identifier: GPL-3.0-or-later
// What the parser must split, accept and refuse. That accepted text serialises to itself, reparses
// to the same parts, decodes as percentDecode does and loses nothing but the removed item (an empty
// item left alone leaves no "?") is the fuzzer's to check, on any bytes (fuzz/URLComponentsFuzzer.cpp).
#include "core/foundation/URLComponents.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {
namespace {

using Opt = std::optional<std::string_view>;

URLComponents parsed(std::string_view text) {
    auto components = URLComponents::parse(text);
    EXPECT_TRUE(components.has_value()) << text;
    return components.value_or(URLComponents());
}

// Every part kept as written, or the text refused. (That nothing accepted holds a blank, a control
// character, invalid UTF-8, a broken escape or a character no part may hold is the fuzzer's, wherever
// in a long plain run the byte falls.)
TEST(URLComponents, SplitsEveryPartKeepingItsTextAsWrittenOrRefuses) {
    const auto cases = testing::readCases("foundation/url-parts.json");
    ASSERT_GT(cases.size(), 40U);
    for (const auto& row : cases) {
        const std::string text = row[0];
        const auto components = URLComponents::parse(text);
        ASSERT_EQ(components.has_value(), row.size() > 1) << text;
        if (!components) continue;
        EXPECT_EQ(components->string(), text);
        const URLComponents& u = *components;
        const Opt parts[] = {
            u.scheme(),   u.percentEncodedUser(), u.percentEncodedPassword(), u.percentEncodedHost(),
            u.portText(), u.percentEncodedPath(), u.percentEncodedQuery(),    u.percentEncodedFragment()};
        for (std::size_t i = 0; i < std::size(parts); ++i)
            EXPECT_EQ(parts[i], row[i + 1].is_null() ? Opt() : Opt(row[i + 1].get_ref<const std::string&>()))
                << text << " " << i;
    }
    EXPECT_EQ(parsed("http://h:65535/").port(), 65535);
    EXPECT_EQ(parsed("http://h:0080/").port(), 80);
    EXPECT_EQ(parsed("http://h:/").port(), std::nullopt);
}

// That each decoded view is its part percent-decoded, or absent when that fails, is the fuzzer's.
TEST(URLComponents, QueryItems) {
    // Items split at "&" and at the first "=", and nowhere else.
    const URLComponents u = parsed("http://h/?a=1&&=v&b&c=x=y&d=%26%3D&a=2;e=3&f=&");
    const std::vector<URLQueryItem> expected = {
        {"a", "1"},      {"", std::nullopt}, {"", "v"}, {"b", std::nullopt}, {"c", "x=y"},
        {"d", "%26%3D"}, {"a", "2;e=3"},     {"f", ""}, {"", std::nullopt},
    };
    EXPECT_EQ(u.percentEncodedQueryItems(), expected);
    EXPECT_EQ(u.queryItems()->at(5), (URLQueryItem{"d", "&="}));
    EXPECT_EQ(parsed("http://h/?q=a+b").queryItems()->front().value, "a+b");
    EXPECT_EQ(parsed("http://h/?").queryItemCount(), 0U);
}

// Decoded text is encoded on the way in; encoded text that would change the structure is refused.
TEST(URLComponents, SettersEncodeOrRefuseAndNeverMovePartsAround) {
    URLComponents u = parsed("https://x/p?old=1#frag");
    u.setQueryItems({{"a b", "1&2=3"}, {"c+d", std::nullopt}, {"é#%", ""}});
    EXPECT_EQ(u.string(), "https://x/p?a%20b=1%262%3D3&c%2Bd&é%23%25=#frag");
    EXPECT_EQ(u.queryItems(), (std::vector<URLQueryItem>{{"a b", "1&2=3"}, {"c+d", std::nullopt}, {"é#%", ""}}));
    for (const auto& refused : {URLQueryItem{"a&b", "1"}, {"a=b", "1"}, {"a", "%zz"}, {"a", "#"}})
        EXPECT_FALSE(u.setPercentEncodedQueryItems({refused})) << refused.name;
    u.setQuery(std::nullopt);
    u.setFragment("a b#c");
    EXPECT_EQ(u.string(), "https://x/p#a%20b%23c");
    EXPECT_FALSE(u.setPercentEncodedFragment("a b"));
    EXPECT_TRUE(u.setPath("/\xc2\x85\xff?#"));  // a C1 control and broken UTF-8 are escaped
    EXPECT_EQ(u.string(), "https://x/%C2%85%FF%3F%23#a%20b%23c");
    EXPECT_FALSE(u.setPercentEncodedPath("/a?b"));
    EXPECT_FALSE(u.setPath("relative"));  // needs a "/" after an authority
    EXPECT_FALSE(u.setHost("[::1"));
    EXPECT_FALSE(u.setScheme("1x"));

    URLComponents mail = parsed("mailto:a@b");
    EXPECT_FALSE(mail.setHost("h"));                        // the path would no longer start with "/"
    EXPECT_FALSE(parsed("x:a:b").setScheme(std::nullopt));  // "a:b" would read as a scheme
    URLComponents creds = parsed("https://u:p@h:8080//p");
    EXPECT_FALSE(creds.setHost(std::nullopt));  // "//p" would become an authority
    EXPECT_TRUE(creds.setPath("/p"));
    EXPECT_TRUE(creds.setHost(std::nullopt));
    EXPECT_EQ(creds.string(), "https:/p");
}

}  // namespace
}  // namespace tessaril
