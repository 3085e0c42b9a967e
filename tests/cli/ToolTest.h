// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>
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

    // Runs the tool in-process; with `network`, every command fetches through it and rules manifests
    // must be signed with `key`.
    static Invocation invoke(const std::vector<std::string>& arguments, const std::string& input = {},
                             HttpsClient* network = nullptr,
                             const RuleSigningKey& key = RuleManifestSignature::releaseKey) {
        std::istringstream in(input);
        std::ostringstream out;
        std::ostringstream err;
        const int status =
            network ? cli::run(arguments, in, out, err, *network, key) : cli::run(arguments, in, out, err);
        return {status, out.str(), err.str()};
    }

    // Runs the built tool as a shell does: bash runs `script` with the tool as $0 and `arguments` as
    // "$@", and `input` as standard input. A run of over two minutes is stopped (status 124).
    Invocation spawn(const std::vector<std::string>& arguments, const std::string& input = {},
                     const std::string& script = R"("$0" "$@")") const {
        static std::atomic<int> runs{0};
        const std::string files = writeFile("run" + std::to_string(runs++), input).string();
        std::string command = "timeout 120 bash -c " + quoted(script) + " " + quoted(TESSARIL_TOOL_PATH);
        for (const auto& argument : arguments)
            command += " " + quoted(argument);
        const int status = std::system((command + " <" + files + " >" + files + ".out 2>" + files + ".err").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(files + ".out"), readFile(files + ".err")};
    }

    // A run that prints `out` on standard output and nothing on standard error.
    static Invocation prints(int status, std::string out) { return {status, std::move(out), ""}; }

    // `word` as one word of a shell command.
    static std::string quoted(std::string_view word) {
        std::string result = "'";
        for (const char c : word)
            result += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return result + "'";
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
