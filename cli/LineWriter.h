// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>

namespace tessaril::cli {

// Writes lines to a stream in large blocks: a long run makes few writes. With `lineBuffered`,
// every line is written and flushed at once, for a reader waiting on each answer. A piece at least
// a block long is written straight from the caller's memory instead of being copied, so one huge
// line costs no second copy of itself.
class LineWriter {
public:
    static constexpr std::size_t defaultBlockSize = std::size_t{64} * 1024;

    LineWriter(std::ostream& stream, bool lineBuffered, std::size_t blockSize = defaultBlockSize);
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;
    ~LineWriter();

    // Writes the pieces of one line and its ending.
    void writeLine(std::initializer_list<std::string_view> pieces, std::string_view ending = "\n");
    // Hands everything written so far to the stream and flushes it.
    void flush();
    [[nodiscard]] bool failed() const;

private:
    void append(std::string_view text);

    std::ostream& stream_;
    bool lineBuffered_;
    std::size_t blockSize_;
    std::string pending_;
};

}  // namespace tessaril::cli
