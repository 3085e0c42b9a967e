// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Text.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <string>

namespace tessaril::text {
namespace {

using namespace std::string_literals;

TEST(Text, TrimRemovesUnicodeWhiteSpaceAndLineBreaksOnly) {
    EXPECT_EQ(trim(" \t\r\n https://a.example \n"), "https://a.example");
    // NBSP, NEL, LINE SEPARATOR, IDEOGRAPHIC SPACE, EN QUAD at the ends; inner spaces stay.
    EXPECT_EQ(trim("\u00A0\u0085\u2028x y\u3000\u2000\u00A0"), "x y");
    EXPECT_EQ(trim("\v\f\u2029"), "");
    EXPECT_EQ(trim(""), "");
    // ASCII is answered without ICU: exactly its white space goes, not the other controls.
    for (int byte = 1; byte < 0x80; ++byte) {
        const std::string around = std::string(1, static_cast<char>(byte)) + "x" + static_cast<char>(byte);
        EXPECT_EQ(trim(around).size(), u_isUWhiteSpace(byte) ? 1U : 3U) << byte;
    }
    // ZERO WIDTH SPACE and BOM are format characters, not white space: they must survive.
    EXPECT_EQ(trim("\u200Bx\u200B"), "\u200Bx\u200B");
    EXPECT_EQ(trim("\uFEFFx"), "\uFEFFx");
    // Malformed bytes stop the trim instead of being eaten or crashing.
    EXPECT_EQ(trim(" \xC3"), "\xC3");
    EXPECT_EQ(trim("\xE2\x80 "), "\xE2\x80");
    // The result is a view into the argument.
    const std::string source = "  abc  ";
    EXPECT_EQ(trim(source).data(), source.data() + 2);
}

TEST(Text, LowerCasingIsFullUnicodeAndLocaleIndependent) {
    EXPECT_EQ(toLower("HELLO Wörld ÉTÉ"), "hello wörld été");
    // Root rules: dotted capital I becomes i + COMBINING DOT ABOVE, plain I becomes i (not dotless ı).
    EXPECT_EQ(toLower("\u0130"), "i\u0307");
    EXPECT_EQ(toLower("I"), "i");
    // Capital sharp s lowers to ß; ß itself is already lower case.
    EXPECT_EQ(toLower("\u1E9E"), "ß");
    EXPECT_EQ(toLower("STRAßE"), "straße");
    // Final sigma depends on context, which only full case mapping knows.
    EXPECT_EQ(toLower("ΟΔΟΣ"), "οδος");
    EXPECT_EQ(toLower(""), "");
    // Malformed bytes pass through untouched rather than turning into U+FFFD.
    EXPECT_EQ(toLower("A\xFF"
                      "B\xC3"),
              "a\xFF"
              "b\xC3");

    EXPECT_EQ(asciiLower("HTTPS://ÉXAMPLE.COM"), "https://Éxample.com");
}

TEST(Text, PercentDecodingFailsOnMalformedEscapesAndInvalidUtf8) {
    EXPECT_EQ(percentDecode("caf%C3%A9"), "café");
    EXPECT_EQ(percentDecode("%2f%2F"), "//");
    EXPECT_EQ(percentDecode("plain text"), "plain text");
    EXPECT_EQ(percentDecode(""), "");
    EXPECT_EQ(percentDecode("a+b"), "a+b");  // '+' is not a space here
    // NUL is valid UTF-8: it decodes, and callers that care about controls check for it.
    EXPECT_EQ(percentDecode("%00"), "\0"s);
    EXPECT_EQ(percentDecode("%2541"), "%41");  // decodes exactly once

    EXPECT_FALSE(percentDecode("%zz"));
    EXPECT_FALSE(percentDecode("%4"));
    EXPECT_FALSE(percentDecode("abc%"));
    EXPECT_FALSE(percentDecode("%4g"));
    EXPECT_FALSE(percentDecode("%C3"));        // truncated sequence
    EXPECT_FALSE(percentDecode("%C0%AF"));     // overlong '/'
    EXPECT_FALSE(percentDecode("%ED%A0%80"));  // surrogate
    EXPECT_FALSE(percentDecode("ok\xFF%41"));  // raw invalid byte outside the escapes
}

TEST(Text, Utf8Validation) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("aé日🙂\uFFFF"));
    EXPECT_FALSE(isValidUtf8("\xC3"));
    EXPECT_FALSE(isValidUtf8("\xC3\x28"));
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(isValidUtf8("\xE0\x80\x80"));      // overlong
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

TEST(Text, EscapedForTerminalShowsWhatCouldRedrawOrReorderTheScreen) {
    const std::pair<std::string, std::string> cases[] = {
        {"rm -rf / # \\ é 日 🙂", "rm -rf / # \\ é 日 🙂"},
        {"\x1b[2J\x1b]0;t\x07", "\\x1b[2J\\x1b]0;t\\x07"},
        {"a\tb\r\nc\0\x7f"s, "a\\x09b\\x0d\\x0ac\\x00\\x7f"},
        {"\u0085\u009b1A\u00a0", "\\x85\\x9b1A\u00a0"},  // C1 controls; NO-BREAK SPACE shows
        {"\u202eexe.txt\u202c \u2066\u2069\u200e\u200f\u061c",
         "\\u202eexe.txt\\u202c \\u2066\\u2069\\u200e\\u200f\\u061c"},
        {"x\u200by\u2028\u2029\u2060\ufeff\ufffb", "x\\u200by\\u2028\\u2029\\u2060\\ufeff\\ufffb"},
        {"\U0001F468\u200D\U0001F469 \u200c", "\U0001F468\u200D\U0001F469 \u200c"},  // joiners stay
        {"\xFF\xC3(\xE2\x80\xF0\x9F\x99", "\\xff\\xc3(\\xe2\\x80\\xf0\\x9f\\x99"},
        {"\xC0\xAF\xED\xA0\x80", "\\xc0\\xaf\\xed\\xa0\\x80"},  // overlong, surrogate
        {"", ""},
    };
    for (const auto& [raw, shown] : cases)
        EXPECT_EQ(escapedForTerminal(raw), shown) << raw;
}

TEST(Text, GraphemeClustersCountWhatUsersSee) {
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // ZWJ sequence
    const std::string flags = "\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7";     // two regional-indicator pairs
    const std::string combining = "e\u0301\u0323";                            // one base, two marks
    const std::string skinTone = "\U0001F44D\U0001F3FD";
    EXPECT_EQ(graphemeCount(""), 0U);
    EXPECT_EQ(graphemeCount("abc"), 3U);
    EXPECT_EQ(graphemeCount(family), 1U);
    EXPECT_EQ(graphemeCount(flags), 2U);
    EXPECT_EQ(graphemeCount(combining), 1U);
    EXPECT_EQ(graphemeCount(skinTone), 1U);
    EXPECT_EQ(graphemeCount("\r\n"), 1U);
    EXPECT_EQ(graphemeCount("a" + family + combining + flags), 5U);
    // Malformed bytes count as something and never crash.
    EXPECT_EQ(graphemeCount("a\xFF\xC3"), 3U);
}

TEST(Text, GraphemePrefixNeverSplitsACluster) {
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    const std::string text = "a" + family + "e\u0301" + "\U0001F1E9\U0001F1EA";
    EXPECT_EQ(graphemePrefix(text, 0), "");
    EXPECT_EQ(graphemePrefix(text, 1), "a");
    EXPECT_EQ(graphemePrefix(text, 2), "a" + family);
    EXPECT_EQ(graphemePrefix(text, 3), "a" + family + "e\u0301");
    EXPECT_EQ(graphemePrefix(text, 4), text);
    EXPECT_EQ(graphemePrefix(text, 100), text);
    EXPECT_EQ(graphemePrefix("", 3), "");
    // Every prefix is a clean cut: re-counting it gives exactly the clusters asked for.
    for (std::size_t n = 0; n <= 4; ++n)
        EXPECT_EQ(graphemeCount(graphemePrefix(text, n)), n);
    const std::string broken = "ab\xF0\x9F";
    EXPECT_LE(graphemePrefix(broken, 10).size(), broken.size());
}

}  // namespace
}  // namespace tessaril::text
