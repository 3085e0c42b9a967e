// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string_view>
#include <vector>

namespace tessaril::cli {

// Splits a stream into lines the way std::getline does (at every line feed, which is dropped; a
// carriage return stays part of its line; a last line without a line feed still counts; nothing
// after a final line feed), but reads large blocks and hands out views into its own buffer, so a
// long run costs neither a copy nor an allocation per line.
//
// The buffer grows only while one line does not fit, and shrinks back to a block once such a line
// has been handed out: memory stays about one block plus the longest line currently in hand.
//
// The source is asked for more only when no whole line is left in the buffer, and a line is handed
// out as soon as it has arrived: a source that returns what it has (a pipe, a terminal) gets its
// answers line by line, however slowly the lines come.
class LineReader {
public:
    static constexpr std::size_t defaultBlockSize = 256 * 1024;

    // Fills up to `size` bytes at `data` and returns how many; 0 means the input has ended.
    using Source = std::function<std::size_t(char* data, std::size_t size)>;

    explicit LineReader(Source source, std::size_t blockSize = defaultBlockSize);
    // A stream's buffer waits for a whole block (or the end) before it returns, so this suits files
    // and strings; use `descriptorSource` for input that arrives while the reader works.
    explicit LineReader(std::istream& in, std::size_t blockSize = defaultBlockSize);
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line, valid until the next call; nothing once the input is exhausted.
    [[nodiscard]] std::optional<std::string_view> next();

    // The buffer's current size, so tests can see it return to a block after a long line.
    [[nodiscard]] std::size_t bufferSize() const { return buffer_.size(); }

private:
    // Moves the unread bytes to the front, growing or shrinking the buffer as needed, and reads more.
    void refill();

    Source source_;
    std::size_t blockSize_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;    // first byte not yet handed out
    std::size_t scanned_ = 0;  // bytes from begin_ known to hold no line feed
    std::size_t end_ = 0;      // end of the bytes read
    bool exhausted_ = false;
};

// Reads a file descriptor, returning whatever one read(2) delivers; an error ends the input, as a
// failed read ends std::getline.
[[nodiscard]] LineReader::Source descriptorSource(int descriptor);

}  // namespace tessaril::cli
