// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/clipboard_wayland/PipeTransfer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <ctime>
#include <utility>

namespace tessaril {

namespace {

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// A reader that went away raises SIGPIPE on the writing thread; the write reports EPIPE anyway, so
// the signal is taken back rather than left to end the program. The thread that writes blocks it.
void discardPendingSigpipe() {
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    const timespec now{};
    while (::sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
    }
}

}  // namespace

std::optional<std::string> readToEnd(int fd, std::size_t cap, std::chrono::milliseconds timeout) {
    setNonBlocking(fd);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string data;
    std::array<char, 65536> chunk{};
    std::optional<std::string> result;
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got == 0) {
            result = std::move(data);
            break;
        }
        if (got < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            break;
        }
        if (data.size() + static_cast<std::size_t>(got) > cap) break;
        data.append(chunk.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return result;
}

PipeWriter::PipeWriter(int fd, std::shared_ptr<const std::string> text) : fd_(fd), text_(std::move(text)) {
    setNonBlocking(fd_);
}

PipeWriter::PipeWriter(PipeWriter&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), text_(std::move(other.text_)), written_(other.written_) {}

PipeWriter& PipeWriter::operator=(PipeWriter&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        text_ = std::move(other.text_);
        written_ = other.written_;
    }
    return *this;
}

PipeWriter::~PipeWriter() {
    close();
}

bool PipeWriter::resume() {
    while (fd_ >= 0 && written_ < text_->size()) {
        const ssize_t put = ::write(fd_, text_->data() + written_, text_->size() - written_);
        if (put < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return false;
            if (errno == EPIPE) discardPendingSigpipe();
            break;
        }
        written_ += static_cast<std::size_t>(put);
    }
    close();
    return true;
}

void PipeWriter::close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace tessaril
