// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/LineReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <streambuf>
#include <utility>

namespace tessaril::cli {

LineReader::LineReader(Source source, std::size_t blockSize)
    : source_(std::move(source)), blockSize_(std::max<std::size_t>(blockSize, 1)), buffer_(blockSize_) {}

LineReader::LineReader(std::istream& in, std::size_t blockSize)
    : LineReader(
          [&in](char* data, std::size_t size) -> std::size_t {
              std::streambuf* source = in.rdbuf();
              if (source == nullptr) return 0;
              try {
                  const std::streamsize read = source->sgetn(data, static_cast<std::streamsize>(size));
                  return read > 0 ? static_cast<std::size_t>(read) : 0;
              } catch (...) {
                  // A file stream reports a failed read (a folder given as input, an I/O error) by
                  // throwing; the input simply ends there, as it would for std::getline.
                  return 0;
              }
          },
          blockSize) {}

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
    const std::size_t read = source_(buffer_.data() + end_, buffer_.size() - end_);
    if (read == 0) {
        exhausted_ = true;
        return;
    }
    end_ += std::min(read, buffer_.size() - end_);
}

LineReader::Source descriptorSource(int descriptor) {
    return [descriptor](char* data, std::size_t size) -> std::size_t {
        while (true) {
            const ssize_t read = ::read(descriptor, data, size);
            if (read >= 0) return static_cast<std::size_t>(read);
            if (errno != EINTR) return 0;
        }
    };
}

}  // namespace tessaril::cli
