// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>

namespace tessaril::cli {

// Splits a stream into lines at every line feed. A line's ending ("\n", or "\r\n" when a carriage
// return comes just before the line feed) is not part of its text but is told by `ending`, so each
// answer can end the way its line did; a carriage return anywhere else stays in the text. A last
// line without a line feed still counts (its ending is empty); nothing after a final line feed does.
// It reads large blocks and hands out views into its own buffer, so a long run costs neither a copy
// nor an allocation per line.
//
// The buffer grows only while one line does not fit, and shrinks back to a block once such a line
// has been handed out: memory stays about one block plus the longest line currently in hand.
//
// The source is asked for more only when no whole line is left in the buffer, and a line is handed
// out as soon as it has arrived: a source that returns what it has (a pipe, a terminal) gets its
// answers line by line, however slowly the lines come.
class LineReader {
public:
    static constexpr std::size_t defaultBlockSize = std::size_t{256} * 1024;

    // What one read gave: a size of 0 without an error means the input has ended.
    struct Read {
        std::size_t size = 0;
        std::error_code error;
    };
    // Fills up to `size` bytes at `data`.
    using Source = std::function<Read(char* data, std::size_t size)>;

    explicit LineReader(Source source, std::size_t blockSize = defaultBlockSize);
    // A stream's buffer waits for a whole block (or the end) before it returns, so this suits files
    // and strings; use `descriptorSource` for input that arrives while the reader works. A stream
    // that knows it holds less than a block is read with a buffer of its size.
    explicit LineReader(std::istream& in, std::size_t blockSize = defaultBlockSize);
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line, valid until the next call; nothing once the input is exhausted. A failed read
    // ends the input too, after the text read before it; `error` then says why.
    [[nodiscard]] std::optional<std::string_view> next();
    // The ending of the line `next` last handed out: "\n", "\r\n", or empty for a last line without.
    [[nodiscard]] std::string_view ending() const { return ending_; }
    // The failure that ended the input early; none when it simply ended (or has not yet).
    [[nodiscard]] std::error_code error() const { return error_; }

    // The buffer's current size, so tests can see it return to a block after a long line.
    [[nodiscard]] std::size_t bufferSize() const { return size_; }

private:
    // Moves the unread bytes to the front, growing or shrinking the buffer as needed, and reads more.
    void refill();
    // Replaces the buffer with one of `size` bytes holding the bytes read so far (at the front).
    void reallocate(std::size_t size);

    Source source_;
    std::size_t blockSize_;
    std::unique_ptr<char[]> buffer_;
    std::size_t size_;
    std::size_t begin_ = 0;    // first byte not yet handed out
    std::size_t scanned_ = 0;  // bytes from begin_ known to hold no line feed
    std::size_t end_ = 0;      // end of the bytes read
    bool exhausted_ = false;
    std::string_view ending_;
    std::error_code error_;
};

// Reads a file descriptor, returning whatever one read(2) delivers. A descriptor left non-blocking
// is waited on rather than taken to have ended; any other failure is reported.
[[nodiscard]] LineReader::Source descriptorSource(int descriptor);

}  // namespace tessaril::cli
