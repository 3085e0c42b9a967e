// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/LineReader.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <istream>
#include <memory>
#include <streambuf>
#include <utility>

namespace tessaril::cli {

namespace {

// A stream that knows it holds less than a block gets a buffer just big enough for all of it.
std::size_t blockFor(std::istream& in, std::size_t blockSize) {
    std::streambuf* source = in.rdbuf();
    const std::streamsize available = source != nullptr ? source->in_avail() : 0;
    if (available <= 0 || static_cast<std::size_t>(available) >= blockSize) return blockSize;
    return static_cast<std::size_t>(available) + 1;
}

}  // namespace

LineReader::LineReader(Source source, std::size_t blockSize)
    : source_(std::move(source)),
      blockSize_(std::max<std::size_t>(blockSize, 1)),
      buffer_(std::make_unique_for_overwrite<char[]>(blockSize_)),
      size_(blockSize_) {}

LineReader::LineReader(std::istream& in, std::size_t blockSize)
    : LineReader(
          [&in](char* data, std::size_t size) -> Read {
              std::streambuf* source = in.rdbuf();
              if (source == nullptr) return {};
              try {
                  // A stream buffer reports a failed read (a folder given as input, an I/O error) by
                  // throwing, which loses whatever that call had read. Asking for no more than it
                  // knows to be there keeps the text before a failure.
                  std::streamsize wanted = static_cast<std::streamsize>(size);
                  if (const std::streamsize available = source->in_avail(); available > 0)
                      wanted = std::min(wanted, available);
                  const std::streamsize read = source->sgetn(data, wanted);
                  return {read > 0 ? static_cast<std::size_t>(read) : 0, {}};
              } catch (const std::system_error& failure) {
                  return {0, failure.code()};
              } catch (...) {
                  return {0, std::make_error_code(std::errc::io_error)};
              }
          },
          blockFor(in, blockSize)) {}

std::optional<std::string_view> LineReader::next() {
    while (true) {
        const std::size_t from = begin_ + scanned_;
        if (from < end_) {
            const void* found = std::memchr(buffer_.get() + from, '\n', end_ - from);
            if (found != nullptr) {
                const auto newline = static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.get());
                const bool crlf = newline > begin_ && buffer_[newline - 1] == '\r';
                const std::string_view line(buffer_.get() + begin_, newline - begin_ - (crlf ? 1 : 0));
                ending_ = crlf ? "\r\n" : "\n";
                begin_ = newline + 1;
                scanned_ = 0;
                return line;
            }
            scanned_ = end_ - begin_;
        }
        if (exhausted_) {
            if (begin_ == end_) return std::nullopt;
            const std::string_view line(buffer_.get() + begin_, end_ - begin_);
            ending_ = {};
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
        std::memmove(buffer_.get(), buffer_.get() + begin_, pending);
        begin_ = 0;
        end_ = pending;
    }
    if (pending == size_) {
        // One line fills the whole buffer: grow by half, which keeps the slack at a third of the line.
        reallocate(size_ + size_ / 2 + 1);
    } else if (size_ > blockSize_ && pending < blockSize_) {
        // A long line has gone; give its memory back.
        reallocate(blockSize_);
    }
    const Read read = source_(buffer_.get() + end_, size_ - end_);
    if (read.size == 0 || read.error) {
        exhausted_ = true;
        error_ = read.error;
        return;
    }
    end_ += std::min(read.size, size_ - end_);
}

void LineReader::reallocate(std::size_t size) {
    // Left uninitialised: only what is read into it is ever touched.
    auto replacement = std::make_unique_for_overwrite<char[]>(size);
    std::memcpy(replacement.get(), buffer_.get(), end_);
    buffer_ = std::move(replacement);
    size_ = size;
}

LineReader::Source descriptorSource(int descriptor) {
    return [descriptor](char* data, std::size_t size) -> LineReader::Read {
        while (true) {
            const ssize_t read = ::read(descriptor, data, size);
            if (read >= 0) return {static_cast<std::size_t>(read), {}};
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd readable{descriptor, POLLIN, 0};
                if (::poll(&readable, 1, -1) >= 0 || errno == EINTR) continue;
            }
            return {0, std::error_code(errno, std::generic_category())};
        }
    };
}

}  // namespace tessaril::cli
