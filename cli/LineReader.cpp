// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/LineReader.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <streambuf>

namespace tessaril::cli {

LineReader::LineReader(std::istream& in, std::size_t blockSize)
    : in_(in), blockSize_(std::max<std::size_t>(blockSize, 1)), buffer_(blockSize_) {}

std::optional<std::string_view> LineReader::next() {
    while (true) {
        const std::size_t from = begin_ + scanned_;
        if (from < end_) {
            const void* found = std::memchr(buffer_.data() + from, '\n', end_ - from);
            if (found != nullptr) {
                const auto newline = static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data());
                const std::string_view line(buffer_.data() + begin_, newline - begin_);
                begin_ = newline + 1;
                scanned_ = 0;
                return line;
            }
            scanned_ = end_ - begin_;
        }
        if (exhausted_) {
            if (begin_ == end_) return std::nullopt;
            const std::string_view line(buffer_.data() + begin_, end_ - begin_);
            begin_ = end_;
            scanned_ = 0;
            return line;
        }
        refill();
    }
}

void LineReader::refill() {
    const std::size_t pending = end_ - begin_;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, pending);
        begin_ = 0;
        end_ = pending;
    }
    if (pending == buffer_.size()) {
        // One line fills the whole buffer: grow by half, which keeps the slack at a third of the line.
        buffer_.resize(buffer_.size() + buffer_.size() / 2 + 1);
    } else if (buffer_.size() > blockSize_ && pending < blockSize_) {
        // A long line has gone; give its memory back.
        buffer_.resize(blockSize_);
        buffer_.shrink_to_fit();
    }
    std::streamsize read = 0;
    try {
        if (std::streambuf* source = in_.rdbuf()) {
            read = source->sgetn(buffer_.data() + end_, static_cast<std::streamsize>(buffer_.size() - end_));
        }
    } catch (...) {
        // A file stream reports a failed read (a folder given as input, an I/O error) by throwing;
        // the input simply ends there, as it would for std::getline.
        read = 0;
    }
    if (read <= 0) {
        exhausted_ = true;
        return;
    }
    end_ += static_cast<std::size_t>(read);
}

}  // namespace tessaril::cli
