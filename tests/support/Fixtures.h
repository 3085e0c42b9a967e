// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small helpers the suites share: test files in and out, and links built the way tests need them.

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

// Percent-encodes every byte but ASCII letters, digits, "-", "." and "_": the form a redirect
// wrapper carries its target in.
inline std::string percentEncodeAll(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const unsigned char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_') {
            encoded += static_cast<char>(c);
        } else {
            encoded += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return encoded;
}

}  // namespace tessaril::testing
