// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/URLComponents.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <random>
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

std::vector<std::string> itemNames(const URLComponents& c) {
    std::vector<std::string> names;
    for (const auto& item : c.percentEncodedQueryItemViews())
        names.emplace_back(item.name);
    return names;
}

TEST(URLComponents, SplitsEveryPartKeepingItsTextAsWritten) {
    struct Case {
        std::string_view text;
        Opt scheme, user, password, host, portText;
        std::string_view path;
        Opt query, fragment;
    };
    const Case cases[] = {
        {"HTTPS://Ex.COM:0443/A%2fb?X=1#Top", "HTTPS", {}, {}, "Ex.COM", "0443", "/A%2fb", "X=1", "Top"},
        {"https://u%40s:p:w@h/", "https", "u%40s", "p:w", "h", {}, "/", {}, {}},
        {"ftp://@h:/", "ftp", "", {}, "h", "", "/", {}, {}},
        {"file:///etc/hosts", "file", {}, {}, "", {}, "/etc/hosts", {}, {}},
        {"https://", "https", {}, {}, "", {}, "", {}, {}},
        {"http://h?#", "http", {}, {}, "h", {}, "", "", ""},
        {"http://h/p#frag?with=query", "http", {}, {}, "h", {}, "/p", {}, "frag?with=query"},
        {"http://h/p?a=1?b=2#x#y", "http", {}, {}, "h", {}, "/p", "a=1?b=2", "x#y"},
        {"mailto:someone@example.org?subject=Hi", "mailto", {}, {}, {}, {}, "someone@example.org", "subject=Hi", {}},
        {"tel:+1-555-0100", "tel", {}, {}, {}, {}, "+1-555-0100", {}, {}},
        {"data:text/plain;base64,SGk=", "data", {}, {}, {}, {}, "text/plain;base64,SGk=", {}, {}},
        {"urn:isbn:0451450523", "urn", {}, {}, {}, {}, "isbn:0451450523", {}, {}},
        {"//cdn.example.net/lib.js", {}, {}, {}, "cdn.example.net", {}, "/lib.js", {}, {}},
        {"../a/b?q", {}, {}, {}, {}, {}, "../a/b", "q", {}},
        {"a/b:c", {}, {}, {}, {}, {}, "a/b:c", {}, {}},
        {"", {}, {}, {}, {}, {}, "", {}, {}},
        {"http://[::1]:8080/", "http", {}, {}, "[::1]", "8080", "/", {}, {}},
        {"http://[fe80::1%25eth0]/", "http", {}, {}, "[fe80::1%25eth0]", {}, "/", {}, {}},
        {"http://[v7.a:b]/", "http", {}, {}, "[v7.a:b]", {}, "/", {}, {}},
        {"https://x/search?filter[0]=a#[b]", "https", {}, {}, "x", {}, "/search", "filter[0]=a", "[b]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const URLComponents u = parsed(c.text);
        EXPECT_EQ(u.string(), c.text);
        EXPECT_EQ(u.scheme(), c.scheme);
        EXPECT_EQ(u.percentEncodedUser(), c.user);
        EXPECT_EQ(u.percentEncodedPassword(), c.password);
        EXPECT_EQ(u.percentEncodedHost(), c.host);
        EXPECT_EQ(u.hasAuthority(), c.host.has_value());
        EXPECT_EQ(u.portText(), c.portText);
        EXPECT_EQ(u.percentEncodedPath(), c.path);
        EXPECT_EQ(u.percentEncodedQuery(), c.query);
        EXPECT_EQ(u.percentEncodedFragment(), c.fragment);
    }
    EXPECT_EQ(parsed("http://h:65535/").port(), 65535);
    EXPECT_EQ(parsed("http://h:0080/").port(), 80);
    EXPECT_EQ(parsed("http://h:/").port(), std::nullopt);
    EXPECT_EQ(parsed("http://h/").port(), std::nullopt);
    for (std::string_view host : {"[1:2:3:4:5:6:7:8]", "[::ffff:192.0.2.1]", "[1::]", "[1:2:3:4:5:6:7::]",
                                  "[2001:DB8::1:0]", "[1:2:3:4:5:6:10.0.0.255]", "[::]", "[V1F.x:y!]"}) {
        EXPECT_EQ(parsed("http://" + std::string(host) + ":1/").percentEncodedHost(), host);
    }
}

TEST(URLComponents, RejectsMalformedText) {
    const std::string_view rejected[] = {
        // Blanks and control characters, C1 included.
        "https://exa mple.com/",
        "https://x.com/a b",
        " https://x.com",
        "https://x.com/\t",
        "https://x.com/\x7f",
        std::string_view("https://x.com/\0", 15),
        "https://x.com/\r\n",
        "https://x.com/\xc2\x85",
        // Invalid UTF-8: stray byte, truncated, overlong, surrogate, beyond U+10FFFF.
        "https://x.com/\xff",
        "https://x.com/\xc3",
        "https://x.com/\xc0\xaf",
        "https://x.com/\xed\xa0\x80",
        "https://x.com/\xf4\x90\x80\x80",
        // Ports.
        "http://h:8o/",
        "http://h:65536/",
        "http://h:99999999999999999999/",
        "http://h:-1/",
        // IP literals.
        "http://[::1/",
        "http://[::1]x/",
        "http://[1:2:3]/",
        "http://[::1::2]/",
        "http://[12345::]/",
        "http://[::1%eth0]/",
        "http://[1.2.3.4]/",
        "http://[::256.1.1.1]/",
        "http://[::01.1.1.1]/",
        "http://[v.x]/",
        "http://a]b/",
        // Userinfo and host characters.
        "http://a@b@c/",
        "http://a[b@c/",
        "http://a{b/",
        "http://a%zzb/",
        // Characters no part may hold.
        "https://x.com/<script>",
        "https://x.com/\"q\"",
        "https://x.com/?a={b}",
        "https://x.com/a|b",
        "https://x.com/a\\b",
        "https://x.com/a^b",
        "https://x.com/`",
        "https://x.com/a#b c",
        // Broken escapes.
        "https://example.com/%zz?x",
        "https://x.com/%4",
        "https://x.com/?q=%G1",
        "https://x.com/#%",
        // No valid scheme, yet a colon in the first segment.
        "1http://x",
        "://x",
        ":",
        "-x:y/z",
        "\xc3\xa9:x",
        "ht~tp://x",
    };
    for (std::string_view text : rejected)
        EXPECT_FALSE(URLComponents::parse(text).has_value()) << text;

    // Long plain runs are checked several bytes at a time: a bad byte is found wherever it falls,
    // in a path, a query or a fragment.
    const std::string plain(24, 'z');
    for (const std::string prefix : {"https://x.com/", "https://x.com/?", "https://x.com/#"}) {
        for (std::size_t at = 0; at <= plain.size(); ++at) {
            for (const char* bad : {" ", "\"", "%4", "\xff"}) {
                const std::string text = prefix + plain.substr(0, at) + bad + plain.substr(at);
                EXPECT_FALSE(URLComponents::parse(text).has_value()) << text;
            }
            EXPECT_TRUE(URLComponents::parse(prefix + plain.substr(0, at) + "%41\xc3\xa9" + plain.substr(at)));
        }
    }
}

TEST(URLComponents, AcceptsInternationalisedLinksVerbatimAndDecodesViews) {
    const URLComponents jp = parsed("https://日本語.jp/%E2%9C%93/check");
    EXPECT_EQ(jp.percentEncodedHost(), "日本語.jp");
    EXPECT_EQ(jp.host(), "日本語.jp");
    EXPECT_EQ(jp.path(), "/✓/check");

    const URLComponents ru = parsed("https://пример.рф/путь?q=значение&x=%D1%8F#фрагмент");
    EXPECT_EQ(ru.percentEncodedPath(), "/путь");
    EXPECT_EQ(ru.fragment(), "фрагмент");
    ASSERT_TRUE(ru.queryItems().has_value());
    EXPECT_EQ((*ru.queryItems())[1], (URLQueryItem{"x", "я"}));

    const URLComponents mixed = parsed("https://us%65r:p%40ss@h/a+b%20c?q=a+b%2Bc#%F0%9F%98%80");
    EXPECT_EQ(mixed.user(), "user");
    EXPECT_EQ(mixed.password(), "p@ss");
    EXPECT_EQ(mixed.path(), "/a+b c");
    EXPECT_EQ(mixed.query(), "q=a+b+c");
    EXPECT_EQ(mixed.fragment(), "😀");
    EXPECT_EQ(parsed("http://h/").user(), std::nullopt);

    // Escapes that decode to invalid UTF-8 (a Latin-1 "é", half a sequence) give no decoded text.
    const URLComponents latin1 = parsed("http://h/caf%E9?q=%C3#%ff");
    EXPECT_EQ(latin1.percentEncodedPath(), "/caf%E9");
    EXPECT_EQ(latin1.path(), std::nullopt);
    EXPECT_EQ(latin1.query(), std::nullopt);
    EXPECT_EQ(latin1.queryItems(), std::nullopt);
    EXPECT_EQ(latin1.fragment(), std::nullopt);
    EXPECT_EQ(parsed("http://h/%00").path(), std::string("/\0", 2));
}

TEST(URLComponents, SplitsQueryItemsOnAmpersandAndFirstEquals) {
    const URLComponents u = parsed("http://h/?a=1&&=v&b&c=x=y&d=%26%3D&a=2;e=3&f=&");
    const std::vector<URLQueryItem> expected = {
        {"a", "1"},      {"", std::nullopt}, {"", "v"}, {"b", std::nullopt}, {"c", "x=y"},
        {"d", "%26%3D"}, {"a", "2;e=3"},     {"f", ""}, {"", std::nullopt},
    };
    EXPECT_EQ(u.percentEncodedQueryItems(), expected);
    EXPECT_EQ(u.queryItemCount(), expected.size());
    ASSERT_TRUE(u.queryItems().has_value());
    EXPECT_EQ((*u.queryItems())[5], (URLQueryItem{"d", "&="}));
    EXPECT_EQ(parsed("http://h/?q=a+b").queryItems()->front().value, "a+b");

    EXPECT_TRUE(parsed("http://h/?").percentEncodedQueryItems().empty());
    EXPECT_TRUE(parsed("http://h/").percentEncodedQueryItems().empty());
    EXPECT_EQ(parsed("http://h/?").queryItemCount(), 0U);
}

TEST(URLComponents, RemovingItemsKeepsTheOthersByteForByte) {
    URLComponents u = parsed("https://x/p?utm_source=a&q=caf%C3%A9+%2B&utm_medium=b&Q=%7e&&tail#f?utm_x=1");
    const std::size_t removed =
        u.removeQueryItems([](const URLQueryItemView& item) { return item.name.starts_with("utm_"); });
    EXPECT_EQ(removed, 2U);
    EXPECT_EQ(u.string(), "https://x/p?q=caf%C3%A9+%2B&Q=%7e&&tail#f?utm_x=1");
    EXPECT_EQ(u.percentEncodedFragment(), "f?utm_x=1");
    EXPECT_EQ(u, parsed(u.string()));

    EXPECT_EQ(u.removeQueryItems([](const URLQueryItemView&) { return false; }), 0U);
    EXPECT_EQ(u.string(), "https://x/p?q=caf%C3%A9+%2B&Q=%7e&&tail#f?utm_x=1");

    EXPECT_TRUE(u.removeQueryItem(2));  // the empty item
    EXPECT_EQ(u.string(), "https://x/p?q=caf%C3%A9+%2B&Q=%7e&tail#f?utm_x=1");
    EXPECT_FALSE(u.removeQueryItem(3));
    EXPECT_EQ(u.removeQueryItems([](const URLQueryItemView&) { return true; }), 3U);
    EXPECT_EQ(u.string(), "https://x/p#f?utm_x=1");
    EXPECT_FALSE(u.percentEncodedQuery().has_value());

    // A lone empty item left over counts as nothing: no bare "?".
    URLComponents lone = parsed("https://x/?&fbclid=1");
    lone.removeQueryItems([](const URLQueryItemView& item) { return item.name == "fbclid"; });
    EXPECT_EQ(lone.string(), "https://x/");
    URLComponents two = parsed("https://x/?a&&fbclid=1");
    two.removeQueryItems([](const URLQueryItemView& item) { return item.value.has_value(); });
    EXPECT_EQ(two.string(), "https://x/?a&");
    EXPECT_EQ(itemNames(parsed(two.string())), (std::vector<std::string>{"a", ""}));
}

TEST(URLComponents, SettersEncodeOrRefuseAndNeverMovePartsAround) {
    URLComponents u = parsed("https://x/p?old=1#frag");
    u.setQueryItems({{"a b", "1&2=3"}, {"c+d", std::nullopt}, {"é#%", ""}});
    EXPECT_EQ(u.string(), "https://x/p?a%20b=1%262%3D3&c%2Bd&é%23%25=#frag");
    EXPECT_EQ(u.queryItems(), (std::vector<URLQueryItem>{{"a b", "1&2=3"}, {"c+d", std::nullopt}, {"é#%", ""}}));
    u.setQueryItems({});
    EXPECT_EQ(u.string(), "https://x/p#frag");

    EXPECT_TRUE(u.setPercentEncodedQueryItems({{"k", "v=w"}, {"", std::nullopt}, {"z", "%41"}}));
    EXPECT_EQ(u.string(), "https://x/p?k=v=w&&z=%41#frag");
    EXPECT_FALSE(u.setPercentEncodedQueryItems({{"a&b", "1"}}));
    EXPECT_FALSE(u.setPercentEncodedQueryItems({{"a=b", "1"}}));
    EXPECT_FALSE(u.setPercentEncodedQueryItems({{"a", "%zz"}}));
    EXPECT_FALSE(u.setPercentEncodedQueryItems({{"a", "#"}}));
    EXPECT_EQ(u.string(), "https://x/p?k=v=w&&z=%41#frag");

    u.setQuery("a=b c&d");
    EXPECT_EQ(u.percentEncodedQuery(), "a=b%20c&d");
    u.setQuery(std::optional<std::string_view>(""));
    EXPECT_EQ(u.string(), "https://x/p?#frag");
    u.setQuery(std::nullopt);
    u.setFragment("a b#c");
    EXPECT_EQ(u.string(), "https://x/p#a%20b%23c");
    EXPECT_FALSE(u.setPercentEncodedFragment("a b"));
    u.setFragment(std::nullopt);
    EXPECT_EQ(u.string(), "https://x/p");

    EXPECT_TRUE(u.setPath("/a b/ü?#"));
    EXPECT_EQ(u.string(), "https://x/a%20b/ü%3F%23");
    EXPECT_TRUE(u.setPath("/\xc2\x85\xff\xc3"));  // a C1 control and broken UTF-8 are escaped
    EXPECT_EQ(u.percentEncodedPath(), "/%C2%85%FF%C3");
    EXPECT_EQ(u.path(), std::nullopt);
    EXPECT_TRUE(u.setPath("/a b/ü?#"));
    EXPECT_FALSE(u.setPercentEncodedPath("/a?b"));
    EXPECT_FALSE(u.setPath("relative"));  // needs a "/" after an authority
    EXPECT_TRUE(u.setHost("ex ample.org"));
    EXPECT_EQ(u.string(), "https://ex%20ample.org/a%20b/ü%3F%23");
    EXPECT_FALSE(u.setPercentEncodedHost("h:80"));
    EXPECT_FALSE(u.setHost("[::1"));
    EXPECT_TRUE(u.setHost("[::1]"));
    EXPECT_FALSE(u.setScheme("1x"));
    EXPECT_TRUE(u.setScheme("Web+Cal"));
    EXPECT_EQ(u.string(), "Web+Cal://[::1]/a%20b/ü%3F%23");

    URLComponents mail = parsed("mailto:a@b");
    EXPECT_FALSE(mail.setHost("h"));  // the path would no longer start with "/"
    EXPECT_TRUE(mail.setScheme(std::nullopt));
    EXPECT_EQ(mail.string(), "a@b");
    URLComponents noScheme = parsed("x:a:b");
    EXPECT_FALSE(noScheme.setScheme(std::nullopt));  // "a:b" would read as a scheme
    URLComponents creds = parsed("https://u:p@h:8080//p");
    EXPECT_FALSE(creds.setHost(std::nullopt));  // "//p" would become an authority
    EXPECT_TRUE(creds.setPath("/p"));
    EXPECT_TRUE(creds.setHost(std::nullopt));
    EXPECT_EQ(creds.string(), "https:/p");
    EXPECT_TRUE(creds.setHost("n"));
    EXPECT_EQ(creds.string(), "https://n/p");
}

// Every accepted text round-trips, reparses to an equal value, and survives removing its first item.
bool checkInvariants(std::string_view text) {
    const auto u = URLComponents::parse(text);
    if (!u) return false;
    EXPECT_EQ(u->string(), text);
    EXPECT_EQ(URLComponents::parse(u->string()), u);
    URLComponents cut = *u;
    auto items = u->percentEncodedQueryItems();
    if (cut.removeQueryItem(0)) {
        items.erase(items.begin());
        const auto again = URLComponents::parse(cut.string());
        if (!again) {
            ADD_FAILURE() << text;
            return true;
        }
        if (items.size() == 1 && items[0] == URLQueryItem{}) items.clear();
        EXPECT_EQ(again->percentEncodedQueryItems(), items) << text;
        EXPECT_EQ(again->percentEncodedFragment(), u->percentEncodedFragment()) << text;
        EXPECT_EQ(again->percentEncodedPath(), u->percentEncodedPath()) << text;
    }
    return true;
}

TEST(URLComponents, RoundTripsTheBenchmarkCorpus) {
    std::ifstream in(TESSARIL_SHARED_DIR "/bench/urls-200k.txt");
    if (!in) GTEST_SKIP() << "benchmark corpus not available";
    std::size_t lines = 0, accepted = 0, webLines = 0, webAccepted = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
        const bool web = line.starts_with("http://") || line.starts_with("https://");
        const bool ok = checkInvariants(line);
        webLines += web ? 1 : 0;
        webAccepted += web && ok ? 1 : 0;
        accepted += ok ? 1 : 0;
        if (HasFailure()) return;
    }
    // What is left out is text around links, blanks, and deliberately malformed links.
    EXPECT_EQ(lines, 200000U);
    EXPECT_GE(accepted, 189000U);
    EXPECT_GE(webAccepted * 100, webLines * 99);
}

TEST(URLComponents, RandomMutationsNeverBreakTheInvariants) {
    const std::string seeds[] = {
        "https://u:p@[::ffff:1.2.3.4]:8080/a/b;c?x=1&y=%20&&z#f?g",
        "mailto:x@y?subject=a",
        "//h/p?a=b",
        "https://日本語.jp/✓?q=é#[x]",
        "a/b?c#d",
    };
    const std::string alphabet = std::string("%:/?#[]@&=+ \x7f\xc3\xa9\xff.-_~!$'()*,;<>\"{}|\\^`09afAF") + '\0';
    std::mt19937 random(12345);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text = seeds[round % std::size(seeds)];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % (text.size() + 1);
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
                case 0:
                    text.insert(at, 1, c);
                    break;
                case 1:
                    if (at < text.size()) text.erase(at, 1);
                    break;
                default:
                    if (at < text.size()) text[at] = c;
                    break;
            }
        }
        accepted += checkInvariants(text) ? 1 : 0;
        if (HasFailure()) return;
    }
    EXPECT_GT(accepted, 2000);  // the invariants were exercised, not only the rejections
}

// Whatever decoded text goes in through a setter comes back out of the decoded view.
TEST(URLComponents, DecodedSettersRoundTripArbitraryText) {
    const std::string_view pieces[] = {"a", "Z", "%",    "%41",  "&",  "=", "+",  "#", "?", "/", ":", "@",
                                       "[", " ", "\x01", "\x7f", "\"", "é", "日", "😀", ";", "~", "\\"};
    std::mt19937 random(7);
    auto randomText = [&] {
        std::string text;
        for (std::size_t k = random() % 8; k > 0; --k)
            text += pieces[random() % std::size(pieces)];
        return text;
    };
    URLComponents u = parsed("https://h/p");
    for (int round = 0; round < 2000; ++round) {
        const std::vector<URLQueryItem> items = {{"n" + randomText(), randomText()},
                                                 {"m" + randomText(), std::nullopt}};
        u.setQueryItems(items);
        EXPECT_EQ(u.queryItems(), items);
        const std::string text = randomText();
        u.setFragment(text);
        EXPECT_EQ(u.fragment(), text);
        u.setQuery(text);
        EXPECT_EQ(u.query(), text);
        ASSERT_TRUE(u.setPath("/" + text));
        EXPECT_EQ(u.path(), "/" + text);
        if (!text.starts_with("[")) {
            ASSERT_TRUE(u.setHost(text));
            EXPECT_EQ(u.host(), text);
        }
        EXPECT_EQ(URLComponents::parse(u.string()), u);
        if (HasFailure()) return;
    }
}

}  // namespace
}  // namespace tessaril
