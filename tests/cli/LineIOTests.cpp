// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/LineReader.h"
#include "cli/LineWriter.h"

namespace tessaril {
namespace {

// How lines split, whatever the block size, is fuzz/CleanLinesFuzzer.cpp's to check on any input.

TEST(LineReader, AGrownBufferShrinksBackAfterTheLongLine) {
    const std::string longLine(10000, 'y');
    std::string shortLines;
    for (int i = 0; i < 3000; ++i)
        shortLines += "s" + std::to_string(i) + "\n";
    std::istringstream in(longLine + "\n" + shortLines);
    cli::LineReader reader(in, 64);
    EXPECT_EQ(reader.next(), longLine);
    // The grown buffer is only about half again the line, not a power of two above it.
    EXPECT_GE(reader.bufferSize(), longLine.size());
    EXPECT_LE(reader.bufferSize(), longLine.size() * 3 / 2 + 64);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(reader.next(), "s" + std::to_string(i));
    // Short lines need no more than a block once what was read with the long line is used up.
    EXPECT_EQ(reader.bufferSize(), 64u);
    EXPECT_EQ(reader.next(), std::nullopt);
}

// A pipe or terminal returns what it has: each line must come out before the reader asks again,
// or a slow producer would wait for an answer that never comes. A failed read is no end of input:
// what came before it is handed out, then the reader says why it stopped.
TEST(LineReader, AsksTheSourceOnlyWhenNoWholeLineIsLeftAndReportsErrors) {
    const std::vector<std::string> pieces = {"one\ntw", "o\n", "three\nfour\n", "five"};
    std::size_t served = 0;
    cli::LineReader reader(
        [&](char* data, std::size_t size) -> cli::LineReader::Read {
            if (served == pieces.size()) return {0, std::make_error_code(std::errc::io_error)};
            return {pieces[served++].copy(data, size), {}};
        },
        64);
    const std::vector<std::pair<std::string, std::size_t>> expected = {
        {"one", 1}, {"two", 2}, {"three", 3}, {"four", 3}, {"five", 4}};
    for (const auto& [line, servedBefore] : expected) {
        EXPECT_EQ(reader.next(), line);
        EXPECT_EQ(served, servedBefore) << line;
    }
    EXPECT_EQ(reader.ending(), "");
    EXPECT_EQ(reader.next(), std::nullopt);
    EXPECT_EQ(reader.error(), std::errc::io_error);
}

// A folder is an error; a descriptor that has nothing yet is waited on, even when it was left
// non-blocking.
TEST(LineReader, DescriptorSourceWaitsAndReportsErrors) {
    const int folder = ::open("/", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    cli::LineReader fromFolder(cli::descriptorSource(folder));
    EXPECT_EQ(fromFolder.next(), std::nullopt);
    EXPECT_EQ(fromFolder.error(), std::errc::is_a_directory);
    ::close(folder);

    std::array<int, 2> ends{};
    ASSERT_EQ(::pipe(ends.data()), 0);
    ASSERT_EQ(::fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
    std::thread writer([&ends] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(::write(ends[1], "late\n", 5), 5);
        ::close(ends[1]);
    });
    cli::LineReader fromPipe(cli::descriptorSource(ends[0]));
    EXPECT_EQ(fromPipe.next(), "late");
    EXPECT_EQ(fromPipe.next(), std::nullopt);
    EXPECT_FALSE(fromPipe.error());
    writer.join();
    ::close(ends[0]);
}

TEST(LineWriter, BlocksLinesAndPassesLongOnesThroughInOrder) {
    std::ostringstream out;
    {
        cli::LineWriter writer(out, false, 32);
        writer.writeLine({"abc"});
        writer.writeLine({"tessaril: ", "summary"});
        EXPECT_TRUE(out.str().empty());  // still gathered in the block
        writer.writeLine({std::string(40, 'L')});
        // The long line went out straight after what was gathered before it.
        EXPECT_EQ(out.str(), "abc\ntessaril: summary\n" + std::string(40, 'L'));
        writer.writeLine({"end"}, "\r\n");
    }
    EXPECT_EQ(out.str(), "abc\ntessaril: summary\n" + std::string(40, 'L') + "\nend\r\n");

    std::ostringstream immediate;
    cli::LineWriter lineBuffered(immediate, true, 1024);
    lineBuffered.writeLine({"one", "!"});
    EXPECT_EQ(immediate.str(), "one!\n");
}

}  // namespace
}  // namespace tessaril
