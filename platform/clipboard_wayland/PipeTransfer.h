// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace tessaril {

// Reads `fd` to its end, at most `cap` bytes and for at most `timeout` in all: a program that sends
// more, or never closes its end, gives nothing. Closes `fd`.
std::optional<std::string> readToEnd(int fd, std::size_t cap, std::chrono::milliseconds timeout);

// Text written to a reader's pipe without ever blocking the writer: each call to resume() writes
// what the pipe takes now. The pipe is closed when all is written, when the reader has gone, and
// with the transfer.
class PipeWriter {
public:
    PipeWriter(int fd, std::shared_ptr<const std::string> text);
    PipeWriter(PipeWriter&& other) noexcept;
    PipeWriter& operator=(PipeWriter&& other) noexcept;
    PipeWriter(const PipeWriter&) = delete;
    PipeWriter& operator=(const PipeWriter&) = delete;
    ~PipeWriter();

    // Writes on; true once the transfer is over (all written or the reader gone).
    bool resume();
    [[nodiscard]] int fd() const { return fd_; }

private:
    void close();

    int fd_;
    std::shared_ptr<const std::string> text_;
    std::size_t written_ = 0;
};

}  // namespace tessaril
