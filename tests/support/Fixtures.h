// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small helpers the suites share: test files in and out.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace tessaril::testing {

// The whole file, byte for byte; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Writes `contents` exactly, making the folders on the way; returns the path.
inline std::filesystem::path writeFile(const std::filesystem::path& path, std::string_view contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

}  // namespace tessaril::testing
