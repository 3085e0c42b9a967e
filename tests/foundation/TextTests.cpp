// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Text.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <string>

namespace tessaril::text {
namespace {

using namespace std::string_literals;

TEST(Text, TrimRemovesUnicodeWhiteSpaceAndLineBreaksOnly) {
    // NBSP, NEL, LINE SEPARATOR, IDEOGRAPHIC SPACE, EN QUAD at the ends; inner spaces stay.
    EXPECT_EQ(trim("\u00A0\u0085\u2028x y\u3000\u2000\u00A0"), "x y");
    EXPECT_EQ(trim("\v\f\u2029"), "");
    // ASCII is answered without ICU: exactly its white space goes, not the other controls.
    for (int byte = 1; byte < 0x80; ++byte) {
        const std::string around = std::string(1, static_cast<char>(byte)) + "x" + static_cast<char>(byte);
        EXPECT_EQ(trim(around).size(), u_isUWhiteSpace(byte) ? 1U : 3U) << byte;
    }
    // ZERO WIDTH SPACE and BOM are format characters, not white space; malformed bytes stop the trim.
    for (const char* kept : {"\u200Bx\u200B", "\uFEFFx", "\xC3", "\xE2\x80"})
        EXPECT_EQ(trim(std::string(" ") + kept + " "), kept);
}

TEST(Text, LowerCasingIsFullUnicodeAndLocaleIndependent) {
    const std::pair<const char*, const char*> cases[] = {
        {"HELLO Wörld ÉTÉ", "hello wörld été"},
        // Root rules: dotted capital I becomes i + COMBINING DOT ABOVE, plain I becomes i.
        {"\u0130I", "i\u0307i"},
        {"\u1E9E STRAßE", "ß straße"},
        // Final sigma depends on context, which only full case mapping knows.
        {"ΟΔΟΣ", "οδος"},
        // Malformed bytes pass through untouched rather than turning into U+FFFD.
        {"A\xFF"
         "B\xC3",
         "a\xFF"
         "b\xC3"},
    };
    for (const auto& [text, lower] : cases)
        EXPECT_EQ(toLower(text), lower) << text;
    EXPECT_EQ(asciiLower("HTTPS://ÉXAMPLE.COM"), "https://Éxample.com");
}

TEST(Text, PercentDecodingFailsOnMalformedEscapesAndInvalidUtf8) {
    EXPECT_EQ(percentDecode("caf%C3%A9%2f%2F+"), "café//+");  // '+' is not a space here
    EXPECT_EQ(percentDecode("%00"), "\0"s);                   // NUL is valid UTF-8; callers that care check for it
    EXPECT_EQ(percentDecode("%2541"), "%41");                 // decodes exactly once
    // Truncated, overlong, a surrogate, a raw invalid byte outside the escapes.
    for (const char* malformed : {"%zz", "%4", "abc%", "%4g", "%C3", "%C0%AF", "%ED%A0%80", "ok\xFF%41"})
        EXPECT_FALSE(percentDecode(malformed)) << malformed;
}

// "%" is always escaped, even when listed, so the result decodes back to the text.
TEST(Text, PercentEncodingKeepsOnlyUnreservedAndListedAsciiCharacters) {
    EXPECT_EQ(percentEncode("a-Z.9_~ \u00E9%+&/\n\xFF", "+/%\xFF"), "a-Z.9_~%20%C3%A9%25+%26/%0A%FF");
    EXPECT_EQ(percentDecode(percentEncode("x y&z=\u65E5", "")), "x y&z=\u65E5");
}

TEST(Text, Utf8Validation) {
    EXPECT_TRUE(isValidUtf8("aé日🙂\uFFFF"));
    for (const char* invalid : {"\xC3", "\xC3\x28", "\xF4\x90\x80\x80", "\xE0\x80\x80"})
        EXPECT_FALSE(isValidUtf8(invalid)) << invalid;
    // ASCII runs are skipped eight bytes at a time; a stray byte is found at any offset.
    const std::string ascii(20, 'a');
    for (std::size_t at = 0; at <= ascii.size(); ++at) {
        const std::string stray = ascii.substr(0, at) + "\xC3" + ascii.substr(at);
        EXPECT_FALSE(isValidUtf8(stray)) << at;
        EXPECT_EQ(asciiRunEnd(stray), at);
        EXPECT_EQ(asciiRunEnd(stray, at + 1), stray.size());
        EXPECT_TRUE(isValidUtf8(ascii.substr(0, at) + "\xC3\xA9" + ascii.substr(at)));
    }
}

// What could redraw or reorder the screen is escaped; fuzz/CommandGuardFuzzer.cpp checks the same
// against ICU's character properties on any text.
TEST(Text, EscapedForTerminalShowsWhatCouldRedrawOrReorderTheScreen) {
    const std::pair<std::string, std::string> cases[] = {
        {"rm -rf / # \\ é 日 🙂 \u00a0", "rm -rf / # \\ é 日 🙂 \u00a0"},
        {"\x1b[2J\ta\r\nc\0\x7f"s, "\\x1b[2J\\x09a\\x0d\\x0ac\\x00\\x7f"},
        {"\u0085\u009b", "\\x85\\x9b"},
        {"\u202eexe\u202c\u2066\u200e\u061c\u200b\u2028\ufeff",
         "\\u202eexe\\u202c\\u2066\\u200e\\u061c\\u200b\\u2028\\ufeff"},
        {"\U0001F468\u200D\U0001F469 \u200c", "\U0001F468\u200D\U0001F469 \u200c"},  // joiners stay
        {"\xFF\xC3(\xC0\xAF\xED\xA0\x80", "\\xff\\xc3(\\xc0\\xaf\\xed\\xa0\\x80"},
    };
    for (const auto& [raw, shown] : cases)
        EXPECT_EQ(escapedForTerminal(raw), shown) << raw;
}

TEST(Text, GraphemeClustersCountWhatUsersSee) {
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // ZWJ sequence
    const std::string text = "a" + family + "e\u0301\u0323" + "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7" + "\r\n";
    EXPECT_EQ(graphemeCount(text), 6U);
    EXPECT_EQ(graphemeCount("a\xFF\xC3"), 3U);  // malformed bytes count as something
    for (std::size_t n = 0; n <= 6; ++n)
        EXPECT_EQ(graphemeCount(graphemePrefix(text, n)), n);
    EXPECT_EQ(graphemePrefix(text, 2), "a" + family);
    EXPECT_EQ(graphemePrefix(text, 100), text);
}

}  // namespace
}  // namespace tessaril::text
