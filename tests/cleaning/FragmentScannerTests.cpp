// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/FragmentScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace tessaril {
namespace {

using Found = std::set<std::uint32_t>;

Found scanned(const FragmentScanner& scanner, std::size_t fragmentCount, std::string_view text, bool* ascii = nullptr) {
    std::vector<std::uint64_t> seen((fragmentCount + 63) / 64, 0);
    std::vector<std::uint32_t> found;
    const bool allAscii = scanner.scan(text, seen, found);
    if (ascii != nullptr) *ascii = allAscii;
    const Found result(found.begin(), found.end());
    EXPECT_EQ(result.size(), found.size()) << "a fragment was reported twice in " << text;
    return result;
}

// Which fragments occur in the text, ASCII letters compared in small letters.
Found expected(const std::vector<std::string>& fragments, std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    Found result;
    for (std::uint32_t f = 0; f < fragments.size(); ++f) {
        if (lower.find(fragments[f]) != std::string::npos) result.insert(f);
    }
    return result;
}

TEST(FragmentScanner, FindsFragmentsAtEveryOffsetAndLength) {
    const std::vector<std::string> fragments = {"amazon", "://t.co/", "ref=", "%3a%2f%2f", "utm_", "\xC3\xA9t\xC3\xA9"};
    FragmentScanner scanner;
    scanner.build(fragments);
    // Each fragment alone, at each offset of texts long and short, so it meets the eight-byte reads at
    // every alignment and the last windows that are read one by one.
    for (std::uint32_t f = 0; f < fragments.size(); ++f) {
        for (std::size_t before = 0; before < 20; ++before) {
            for (std::size_t after = 0; after < 10; ++after) {
                const std::string text = std::string(before, 'x') + fragments[f] + std::string(after, 'y');
                EXPECT_EQ(scanned(scanner, fragments.size(), text), Found{f}) << text;
                // Cut by one byte at either end, it is not there.
                EXPECT_EQ(scanned(scanner, fragments.size(),
                                  std::string_view(text).substr(0, before + fragments[f].size() - 1)),
                          Found{})
                    << text;
                EXPECT_EQ(scanned(scanner, fragments.size(), std::string_view(text).substr(before + 1)), Found{})
                    << text;
            }
        }
    }
    // Many hits in one text, past the batch the scan compares at a time.
    std::string repeated;
    for (int i = 0; i < 100; ++i)
        repeated += "utm_";
    EXPECT_EQ(scanned(scanner, fragments.size(), repeated + "amazon"), (Found{0, 4}));
    // ASCII capitals match; other bytes only as they are.
    EXPECT_EQ(scanned(scanner, fragments.size(), "https://www.AMAZON.de/?REF=x"), (Found{0, 2}));
    EXPECT_EQ(scanned(scanner, fragments.size(), "\xC3\x89T\xC3\x89"), Found{});
    EXPECT_EQ(scanned(scanner, fragments.size(), "UTM@"), Found{});  // '@' is not a capital '`'
}

TEST(FragmentScanner, FoldsExactlyTheAsciiCapitals) {
    for (int byte = 1; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        const bool capital = byte >= 'A' && byte <= 'Z';
        const char small = capital ? static_cast<char>(byte + 32) : c;
        // The byte's small form matches it; the byte with its 0x20 bit set matches only a capital.
        const std::vector<std::string> fragments = {std::string("qz") + small + "j",
                                                    std::string("qz") + static_cast<char>(byte | 0x20) + "j"};
        FragmentScanner scanner;
        scanner.build(fragments);
        // Long enough for whole-word reads, and ending right after the fragment for the short ones.
        for (const std::string& text : {std::string("qz") + c + "jxxxxxxxxx", std::string("xqz") + c + "j"}) {
            const Found found = scanned(scanner, fragments.size(), text);
            EXPECT_TRUE(found.count(0) == 1) << byte;
            EXPECT_EQ(found.count(1) == 1, capital || (byte | 0x20) == byte) << byte;
        }
    }
}

TEST(FragmentScanner, ReportsWhetherTheTextIsAscii) {
    FragmentScanner scanner;
    scanner.build({"abcd"});
    for (std::size_t size = 0; size < 24; ++size) {
        for (std::size_t at = 0; at < size; ++at) {
            std::string text(size, 'a');
            bool ascii = false;
            (void)scanned(scanner, 1, text, &ascii);
            EXPECT_TRUE(ascii);
            text[at] = '\x80';
            (void)scanned(scanner, 1, text, &ascii);
            EXPECT_FALSE(ascii) << size << " " << at;
        }
    }
}

TEST(FragmentScanner, KeepsFragmentsAlreadySeenAndSkipsTheirReport) {
    FragmentScanner scanner;
    scanner.build({"abcd", "bcde"});
    std::vector<std::uint64_t> seen(1, 0b01);
    std::vector<std::uint32_t> found;
    (void)scanner.scan("xabcdex", seen, found);
    EXPECT_EQ(found, std::vector<std::uint32_t>{1});
    EXPECT_EQ(seen[0], 0b11U);
}

TEST(FragmentScanner, AgreesWithPlainSearchOnRandomFragmentsAndTexts) {
    std::mt19937 random(7);
    // A small alphabet, so fragments share windows and overlap one another in the texts.
    constexpr std::string_view kAlphabet = "abcAB./:%_\xC3\xA9";
    const auto randomString = [&](std::size_t length) {
        std::string s;
        for (std::size_t i = 0; i < length; ++i)
            s += kAlphabet[random() % kAlphabet.size()];
        return s;
    };
    for (int round = 0; round < 200; ++round) {
        std::vector<std::string> fragments;
        for (int f = 0; f < 30; ++f) {
            std::string fragment = randomString(4 + random() % 6);
            std::transform(fragment.begin(), fragment.end(), fragment.begin(),
                           [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
            fragments.push_back(fragment);
        }
        FragmentScanner scanner;
        scanner.build(fragments);
        for (int t = 0; t < 20; ++t) {
            const std::string text = randomString(random() % 40);
            ASSERT_EQ(scanned(scanner, fragments.size(), text), expected(fragments, text)) << text;
        }
    }
}

}  // namespace
}  // namespace tessaril
