// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

extern char** environ;

namespace tessaril::testing {

struct Invocation {
    int status;
    std::string out;
    std::string err;
    bool operator==(const Invocation&) const = default;
};

inline void PrintTo(const Invocation& run, std::ostream* os) {
    *os << "status " << run.status << ", out \"" << run.out << "\", err \"" << run.err << "\"";
}

// Every test gets its own home and XDG folders, so nothing the user has can leak in or be touched.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(root_.empty());
        useHome(root_);
    }

    // Points HOME and the XDG folders at `home`: a machine of its own as far as the tool can tell.
    static void useHome(const std::filesystem::path& home) {
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    }

    // Runs the tool in-process.
    static Invocation invoke(const std::vector<std::string>& arguments, const std::string& input = {}) {
        std::istringstream in(input);
        std::ostringstream out;
        std::ostringstream err;
        const int status = cli::run(arguments, in, out, err);
        return {status, out.str(), err.str()};
    }

    // Runs the built tool as a shell does: bash runs `script` with the tool as $0 and `arguments` as
    // "$@", with the default SIGPIPE handling and `input` as standard input. The status is the
    // shell's (128 + a signal that ended it); a run of over two minutes is stopped.
    Invocation spawn(const std::vector<std::string>& arguments, const std::string& input = {},
                     const std::string& script = R"("$0" "$@")") const {
        static std::atomic<int> runs{0};
        const std::string name = "run" + std::to_string(runs++);
        const auto in = writeFile(name + ".in", input);
        const auto out = root_ / (name + ".out");
        const auto err = root_ / (name + ".err");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &pipe);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        std::vector<std::string> words = {"timeout", "120", "bash", "-c", script, TESSARIL_TOOL_PATH};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        int status = 0;
        const bool ran = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ) == 0 &&
                         waitpid(pid, &status, 0) == pid;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        if (!ran) return {-1, "", "not run"};
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(out), readFile(err)};
    }

    // A file in this test's home.
    std::filesystem::path writeFile(const std::string& name, const std::string& content) const {
        return testing::writeFile(root_ / name, content);
    }

    // The lines of an output, without their line feeds.
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> result;
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);)
            result.push_back(line);
        return result;
    }

    TemporaryDirectory home_;
    const std::filesystem::path root_ = home_.path();
};

}  // namespace tessaril::testing
