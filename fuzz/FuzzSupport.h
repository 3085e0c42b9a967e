// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

// Shared by the fuzz targets: a property check that stops the run where it fails, the shipped
// resources read once per process, and what a cleaned link may hold.
namespace tessaril::fuzz {

// libFuzzer treats the trap as a crash and keeps the input that caused it; the message says which
// property broke, since a bare trap says nothing.
[[noreturn]] inline void propertyFailed(const char* property, const char* file, int line) {
    std::fprintf(stderr, "fuzz property violated at %s:%d: %s\n", file, line, property);
    std::fflush(stderr);
    __builtin_trap();
}

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::tessaril::fuzz::propertyFailed(#condition, __FILE__, __LINE__))

inline std::filesystem::path coreBundleDirectory() {
    return TESSARIL_SHIPPED_BUNDLE_DIR;
}

// A whole file, or an empty string when it cannot be read: the targets then refuse to start.
inline std::string readResource(std::string_view name) {
    std::ifstream file(coreBundleDirectory() / name, std::ios::binary);
    std::string data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (data.empty()) {
        std::fprintf(stderr, "fuzz: cannot read %.*s from the core bundle\n", static_cast<int>(name.size()),
                     name.data());
        std::abort();
    }
    return data;
}

// A cleaned link is pasted and printed as one line: no C0 control (line feed, carriage return, NUL,
// escape), blank, DEL or C1 control may be in it.
inline bool holdsNoControlOrBlank(std::string_view link) {
    for (std::size_t at = 0; at < link.size(); ++at) {
        const auto byte = static_cast<unsigned char>(link[at]);
        if (byte <= 0x20 || byte == 0x7F) return false;
        if (byte == 0xC2 && at + 1 < link.size() && static_cast<unsigned char>(link[at + 1]) < 0xA0) return false;
    }
    return true;
}

}  // namespace tessaril::fuzz
