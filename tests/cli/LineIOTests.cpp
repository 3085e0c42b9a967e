// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/LineReader.h"
#include "cli/LineWriter.h"

namespace tessaril {
namespace {

using Strings = std::vector<std::string>;

Strings readAll(const std::string& input, std::size_t blockSize) {
    std::istringstream in(input);
    cli::LineReader reader(in, blockSize);
    Strings lines;
    while (auto line = reader.next())
        lines.emplace_back(*line);
    return lines;
}

// What std::getline makes of the same input: the behaviour the tool has always had.
Strings getlineAll(const std::string& input) {
    std::istringstream in(input);
    Strings lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(LineReader, SplitsLikeGetlineWhateverTheBlockSize) {
    const Strings inputs = {
        "",
        "\n",
        "\n\n",
        "one",
        "one\n",
        "one\ntwo",
        "crlf\r\nline\r\n",
        "lone\rreturn\n\r",
        std::string("nul\0byte\nafter", 14),
        "a\nbb\nccc\ndddd\neeeee\n" + std::string(100, 'x') + "\n\nlast",
    };
    for (const auto& input : inputs) {
        const Strings expected = getlineAll(input);
        // Block sizes 1 and 3 put almost every line across a block boundary.
        for (std::size_t block : {1u, 2u, 3u, 7u, 64u, 256u * 1024u})
            EXPECT_EQ(readAll(input, block), expected) << "block " << block << " input " << input;
    }
}

TEST(LineReader, AGrownBufferShrinksBackAfterTheLongLine) {
    const std::string longLine(10000, 'y');
    std::string shortLines;
    for (int i = 0; i < 3000; ++i)
        shortLines += "s" + std::to_string(i) + "\n";
    std::istringstream in("short\n" + longLine + "\n" + shortLines + std::string(5000, 'z'));
    cli::LineReader reader(in, 64);
    EXPECT_EQ(reader.next(), "short");
    EXPECT_EQ(reader.next(), longLine);
    EXPECT_GE(reader.bufferSize(), longLine.size());
    // The grown buffer is only about half again the line, not a power of two above it.
    EXPECT_LE(reader.bufferSize(), longLine.size() * 3 / 2 + 64);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(reader.next(), "s" + std::to_string(i));
    // Short lines need no more than a block once what was read with the long line is used up.
    EXPECT_EQ(reader.bufferSize(), 64u);
    EXPECT_EQ(reader.next(), std::string(5000, 'z'));
    EXPECT_EQ(reader.next(), std::nullopt);
    EXPECT_EQ(reader.next(), std::nullopt);
}

// A pipe or terminal returns what it has: each line must come out before the reader asks again,
// or a slow producer would wait for an answer that never comes.
TEST(LineReader, AsksTheSourceOnlyWhenNoWholeLineIsLeft) {
    const Strings pieces = {"one\ntw", "o\n", "three\nfour\n", "five"};
    std::size_t served = 0;
    Strings handedOut;
    cli::LineReader reader(
        [&](char* data, std::size_t size) -> std::size_t {
            if (served == pieces.size()) return 0;
            const std::string& piece = pieces[served++];
            EXPECT_LE(piece.size(), size);
            piece.copy(data, size);
            return piece.size();
        },
        64);
    const std::vector<std::pair<std::string, std::size_t>> expected = {
        {"one", 1}, {"two", 2}, {"three", 3}, {"four", 3}, {"five", 4}};
    for (const auto& [line, servedBefore] : expected) {
        EXPECT_EQ(reader.next(), line);
        EXPECT_EQ(served, servedBefore) << line;
    }
    EXPECT_EQ(reader.next(), std::nullopt);
}

TEST(LineWriter, BlocksLinesAndPassesLongOnesThroughInOrder) {
    std::ostringstream out;
    {
        cli::LineWriter writer(out, false, 32);
        writer.writeLine("abc");
        writer.writeLine("tessaril: ", "summary");
        EXPECT_TRUE(out.str().empty());  // still gathered in the block
        writer.writeLine(std::string(40, 'L'));
        // The long line went out straight after what was gathered before it.
        EXPECT_EQ(out.str(), "abc\ntessaril: summary\n" + std::string(40, 'L'));
        writer.writeLine("");
        writer.writeLine("end");
    }
    EXPECT_EQ(out.str(), "abc\ntessaril: summary\n" + std::string(40, 'L') + "\n\nend\n");

    std::ostringstream immediate;
    cli::LineWriter lineBuffered(immediate, true, 1024);
    lineBuffered.writeLine("one");
    EXPECT_EQ(immediate.str(), "one\n");
    lineBuffered.writeLine("two", "!");
    EXPECT_EQ(immediate.str(), "one\ntwo!\n");
    EXPECT_FALSE(lineBuffered.failed());
}

}  // namespace
}  // namespace tessaril
