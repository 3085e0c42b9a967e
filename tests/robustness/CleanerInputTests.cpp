// SPDX-License-Identifier: GPL-3.0-or-later
// What the cleaner does with the odd texts clipboards really hold, with the shipped rules.
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/ResourceBundle.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"
#include "tests/support/Fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace tessaril {
namespace {

using namespace std::string_literals;

class CleanerInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(engine.loadBundledRules());
        cleaner.setCustomBlocklist(&blocklist);
    }

    // The text the clipboard would hold afterwards: the cleaned link, or the input untouched.
    std::string after(std::string_view input) {
        const auto outcome = cleaner.cleanWithOutcome(input);
        if (const CleanResult* result = outcome.result()) return result->cleanedURL;
        return std::string(input);
    }
    CleanOutcome::Kind kind(std::string_view input) { return cleaner.cleanWithOutcome(input).kind(); }

    const ResourceBundle bundle{std::filesystem::path(TESSARIL_SOURCE_DIR) / "resources/Tessaril_TessarilCore.bundle"};
    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, {&bundle, nullptr, [](std::string_view) {}}};
    DomainExceptionStore exceptions{defaults};
    CustomBlocklistStore blocklist{defaults};
    URLCleaner cleaner{engine, &exceptions};
};

// Bytes that are not UTF-8, UTF-16 text and NULs: nothing is cleaned that cannot be taken apart
// safely, and whatever is kept keeps its exact bytes.
TEST_F(CleanerInputTest, BrokenEncodingsAreRefusedOrKeptByteForByte) {
    using Kind = CleanOutcome::Kind;
    // A link must be UTF-8 to be taken apart: a stray Latin-1 byte, an encoded lone surrogate
    // (CESU-8) or an overlong slash anywhere makes it text, which is left exactly as it is.
    EXPECT_EQ(kind("https://example.com/?utm_source=x&q=caf\xE9"), Kind::invalid);
    EXPECT_EQ(kind("https://example.com/\xED\xA0\x80?utm_medium=y"), Kind::invalid);
    EXPECT_EQ(kind("https://example.com/?utm_medium=y&id=\xC0\xAF"), Kind::invalid);
    // The same bytes percent-encoded are ordinary link text and are kept as written.
    EXPECT_EQ(after("https://example.com/?utm_source=x&q=caf%E9&s=%ED%A0%80"),
              "https://example.com/?q=caf%E9&s=%ED%A0%80");
    // Invalid bytes in the host or the scheme: not a web link.
    EXPECT_EQ(kind("https://exa\xFFmple.com/?utm_source=x"), Kind::invalid);
    EXPECT_EQ(kind("\xFF\xFEh\0t\0t\0p\0s\0:\0/\0/\0a\0.\0c\0o\0m\0/\0?\0u\0t\0m\0_\0s\0=\0x\0"s), Kind::invalid);
    // A NUL anywhere is a control character: the text is left alone.
    EXPECT_EQ(kind("https://example.com/?utm_source=x\0&id=1"s), Kind::invalid);
    EXPECT_EQ(kind("\0https://example.com/?utm_source=x"s), Kind::invalid);
    // A UTF-8 byte order mark is not white space: the text is not a link.
    EXPECT_EQ(kind("\xEF\xBB\xBFhttps://example.com/?utm_source=x"), Kind::invalid);
    // Nothing in the cleaner holds on to a broken input.
    EXPECT_EQ(after("https://example.com/?id=1&utm_campaign=z"), "https://example.com/?id=1");
}

// CR, CRLF and the other line breaks around a link are trimmed; inside a link they make it text.
TEST_F(CleanerInputTest, LineBreaksAroundAndInsideLinks) {
    EXPECT_EQ(after("https://example.com/?utm_source=x&id=1\r"), "https://example.com/?id=1");
    EXPECT_EQ(after("\r\n https://example.com/?utm_source=x\r\n"), "https://example.com/");
    EXPECT_EQ(after("https://example.com/?id=1&utm_source=x\u2028"), "https://example.com/?id=1");
    // Two links on old-style CR lines are one text with a control character inside: left alone.
    EXPECT_EQ(kind("https://a.example/?utm_source=x\rhttps://b.example/?utm_source=y"), CleanOutcome::Kind::invalid);
}

// Hosts written in Unicode, in punycode, and with direction or zero-width marks: cleaned as written,
// never converted; site exceptions match the exact written form only.
TEST_F(CleanerInputTest, InternationalAndInvisibleCharacters) {
    EXPECT_EQ(after("https://b\u00FCcher.example/?utm_source=x&id=1"), "https://b\u00FCcher.example/?id=1");
    EXPECT_EQ(after("https://xn--bcher-kva.example/?utm_source=x&id=1"), "https://xn--bcher-kva.example/?id=1");
    EXPECT_EQ(after("https://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/?fbclid=abc"),
              "https://\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444/");
    // Right-to-left text and an override mark in a kept value survive byte for byte.
    EXPECT_EQ(after("https://example.com/?q=\u05E9\u05DC\u05D5\u05DD\u202E&utm_source=x"),
              "https://example.com/?q=\u05E9\u05DC\u05D5\u05DD\u202E");
    // A zero-width space is not white space: after a value it belongs to the value, and inside a
    // name it makes another name, which no rule knows.
    EXPECT_EQ(after("https://example.com/?id=1&utm_source=x\u200B"), "https://example.com/?id=1");
    EXPECT_EQ(kind("https://example.com/?utm\u200B_source=x"), CleanOutcome::Kind::unchanged);

    // A site's Unicode and ASCII names are one site.
    ASSERT_EQ(exceptions.disable("B\u00DCCHER.example"), std::nullopt);
    EXPECT_EQ(kind("https://www.b\u00FCcher.example/?utm_source=x"), CleanOutcome::Kind::skippedDisabled);
    EXPECT_EQ(kind("https://xn--bcher-kva.example/?utm_source=x"), CleanOutcome::Kind::skippedDisabled);
}

// Wrappers inside wrappers: six are taken off, whatever the depth, plain or percent-encoded.
TEST_F(CleanerInputTest, SixtyFourNestedRedirectWrappers) {
    const std::string wrapper = "https://www.google.com/url?q=";
    const std::string inner = "https://example.com/page?id=1";
    using testing::percentEncodeAll;
    std::vector<std::string> plain{inner};
    std::vector<std::string> escaped{inner};
    for (int level = 0; level < 64; ++level) {
        plain.insert(plain.begin(), wrapper + plain.front());
        escaped.insert(escaped.begin(), wrapper + percentEncodeAll(escaped.front()));
    }
    for (const auto* nest : {&plain, &escaped}) {
        const auto result = cleaner.clean(nest->front());
        ASSERT_TRUE(result);
        EXPECT_EQ(result->cleanedURL, nest->at(6));
        EXPECT_EQ(result->operations.size(), 6U);
        EXPECT_EQ(result->paramsRemoved, 6);
    }
    // Seven levels from the end, the last wrapper's own target is cleaned as usual.
    const std::string shallow =
        wrapper + percentEncodeAll(wrapper + percentEncodeAll("https://example.com/?utm_source=x&id=1"));
    EXPECT_EQ(after(shallow), "https://example.com/?id=1");
}

// Sizes far beyond any real link: the answer is the same as for a small one.
// (A hundred thousand parameters go through the tool, in ToolInputTests.)
TEST_F(CleanerInputTest, MegabyteLinks) {
    const std::string value(1 << 20, 'a');
    EXPECT_EQ(after("https://example.com/?utm_source=x&q=" + value), "https://example.com/?q=" + value);
    EXPECT_EQ(after("https://example.com/" + value + "?gclid=1"), "https://example.com/" + value);
}

}  // namespace
}  // namespace tessaril
