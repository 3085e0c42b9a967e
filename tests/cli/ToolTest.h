// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CommandLine.h"

namespace tessaril::testing {

struct Invocation {
    int status;
    std::string out;
    std::string err;
};

// Runs the tool in-process. Every test gets its own home and XDG folders, so nothing the user has
// can leak in or be touched.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() / ("tessaril-cli-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(root_);
        setenv("HOME", root_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    static Invocation invoke(std::vector<std::string> arguments) {
        std::istringstream in;
        std::ostringstream out;
        std::ostringstream err;
        const int status = cli::run(arguments, in, out, err);
        return {status, out.str(), err.str()};
    }

    std::filesystem::path root_;
};

}  // namespace tessaril::testing
