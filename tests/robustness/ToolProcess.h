// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace tessaril::testing {

// The built tool as a separate process, as a shell runs it: standard input, output and error are
// pipes the test drives a piece at a time, so it can stream more than fits in memory, close the
// output early, or change the user's files while the tool is still reading.
class ToolProcess {
public:
    struct Options {
        std::map<std::string, std::string> environment;
        // Output beyond this many bytes is counted, not kept (a 100 MB echo need not be held).
        std::size_t keepOutput = 1 << 20;
        // Leaves SIGPIPE ignored in the tool, as some parents (script runners, services) do.
        bool ignoreSigpipe = false;
        // Words run in front of the tool (a user switch, say).
        std::vector<std::string> prefix;
    };

    ToolProcess(const std::filesystem::path& tool, const std::vector<std::string>& arguments, const Options& options)
        : keepOutput_(options.keepOutput) {
        // A tool that exits before reading all its input must fail our write, not kill the test.
        ::signal(SIGPIPE, SIG_IGN);
        int in[2];
        int out[2];
        int err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        // The tool gets the default SIGPIPE handling, as it would from an interactive shell.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        if (!options.ignoreSigpipe) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

        std::vector<std::string> argv = options.prefix;
        argv.push_back(tool.string());
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> argvPointers;
        for (auto& argument : argv)
            argvPointers.push_back(argument.data());
        argvPointers.push_back(nullptr);
        // This process's environment with the test's variables in place of its own.
        std::vector<std::string> envText;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view text(*entry);
            if (!options.environment.contains(std::string(text.substr(0, text.find('='))))) envText.emplace_back(text);
        }
        for (const auto& [name, value] : options.environment)
            envText.push_back(name + "=" + value);
        std::vector<char*> envPointers;
        for (auto& entry : envText)
            envPointers.push_back(entry.data());
        envPointers.push_back(nullptr);

        if (posix_spawnp(&pid_, argv[0].c_str(), &actions, &attributes, argvPointers.data(), envPointers.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        input_ = in[1];
        output_ = out[0];
        error_ = err[0];
        for (int fd : {input_, output_, error_})
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }

    ~ToolProcess() {
        closeInput();
        closeOutput();
        if (error_ >= 0) ::close(error_);
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            int ignored = 0;
            waitpid(pid_, &ignored, 0);
        }
    }
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    [[nodiscard]] bool started() const { return pid_ > 0; }

    // Writes all of `data`, reading output meanwhile so that neither side blocks the other. False
    // when the tool stopped reading (it exited) or the deadline passed.
    bool write(std::string_view data, std::chrono::seconds timeout = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!data.empty()) {
            if (input_ < 0 || !pump(deadline, true)) return false;
            const ssize_t written = ::write(input_, data.data(), data.size());
            if (written > 0) {
                data.remove_prefix(static_cast<std::size_t>(written));
            } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
        }
        return true;
    }

    void closeInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }

    // What a reader that stops early (`| head -1`) does.
    void closeOutput() {
        if (output_ >= 0) ::close(output_);
        output_ = -1;
    }

    // Reads until the output holds `count` complete lines or the deadline passes.
    bool waitForLines(std::size_t count, std::chrono::seconds timeout = std::chrono::seconds(30)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (lineCount_ < count) {
            if (output_ < 0 || !pump(deadline, false)) return false;
        }
        return true;
    }

    // Closes the input, reads everything and waits for the exit. The wait status, or nothing when
    // the tool was still running at the deadline (then it is killed).
    std::optional<int> finish(std::chrono::seconds timeout = std::chrono::seconds(60)) {
        closeInput();
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (output_ >= 0 || error_ >= 0) {
            if (!pump(deadline, false)) break;
        }
        while (!status_ && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = status;
            } else {
                ::usleep(10000);
            }
        }
        return status_;
    }

    [[nodiscard]] const std::string& out() const { return out_; }
    [[nodiscard]] const std::string& err() const { return err_; }
    [[nodiscard]] std::size_t outBytes() const { return outBytes_; }
    // The last bytes of the output, whatever was kept.
    [[nodiscard]] const std::string& outTail() const { return tail_; }

private:
    // One round of waiting: drains what the tool wrote; with `forWriting`, returns as soon as the
    // input can take more. False at the deadline.
    bool pump(std::chrono::steady_clock::time_point deadline, bool forWriting) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[3] = {{output_, POLLIN, 0}, {error_, POLLIN, 0}, {forWriting ? input_ : -1, POLLOUT, 0}};
        if (::poll(fds, 3, static_cast<int>(std::min<long>(left.count(), 1000))) < 0 && errno != EINTR) return false;
        drain(output_, true);
        drain(error_, false);
        return true;
    }

    void drain(int& fd, bool isOutput) {
        if (fd < 0) return;
        char buffer[65536];
        for (;;) {
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count > 0) {
                const std::string_view chunk(buffer, static_cast<std::size_t>(count));
                if (isOutput) {
                    outBytes_ += chunk.size();
                    for (char c : chunk)
                        lineCount_ += c == '\n' ? 1 : 0;
                    if (out_.size() < keepOutput_) out_.append(chunk.substr(0, keepOutput_ - out_.size()));
                    tail_.append(chunk);
                    if (tail_.size() > 4096) tail_.erase(0, tail_.size() - 4096);
                } else {
                    err_.append(chunk);
                }
                continue;
            }
            if (count == 0) {
                ::close(fd);
                fd = -1;
            }
            return;
        }
    }

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int error_ = -1;
    std::size_t keepOutput_;
    std::string out_;
    std::string err_;
    std::string tail_;
    std::size_t outBytes_ = 0;
    std::size_t lineCount_ = 0;
    std::optional<int> status_;
};

}  // namespace tessaril::testing
