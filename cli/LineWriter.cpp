// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/LineWriter.h"

#include <ostream>

namespace tessaril::cli {

LineWriter::LineWriter(std::ostream& stream, bool lineBuffered, std::size_t blockSize)
    : stream_(stream), lineBuffered_(lineBuffered), blockSize_(blockSize) {
    pending_.reserve(blockSize_);
}

LineWriter::~LineWriter() {
    flush();
}

void LineWriter::append(std::string_view text) {
    if (text.size() >= blockSize_) {
        flush();
        stream_.write(text.data(), static_cast<std::streamsize>(text.size()));
        return;
    }
    if (pending_.size() + text.size() > blockSize_) flush();
    pending_.append(text);
}

void LineWriter::writeLine(std::initializer_list<std::string_view> pieces, std::string_view ending) {
    for (const std::string_view piece : pieces)
        append(piece);
    append(ending);
    if (lineBuffered_) flush();
}

void LineWriter::flush() {
    if (!pending_.empty()) stream_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    pending_.clear();
    stream_.flush();
}

bool LineWriter::failed() const {
    return stream_.fail();
}

}  // namespace tessaril::cli
