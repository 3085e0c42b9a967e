// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

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

// Runs the tool in-process. Every test gets its own home and XDG folders, so nothing the user has
// can leak in or be touched.
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

    static Invocation invoke(const std::vector<std::string>& arguments, const std::string& input = {}) {
        std::istringstream in(input);
        std::ostringstream out;
        std::ostringstream err;
        const int status = cli::run(arguments, in, out, err);
        return {status, out.str(), err.str()};
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
