// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/support/TemporaryDirectory.h"

#include "core/clipboard/CommandGuard.h"
#include "core/foundation/ResourceBundle.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

namespace tessaril::testing {

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& path, const std::string& contents) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
}

inline std::filesystem::path shippedBundleDirectory() {
    return std::filesystem::path(TESSARIL_SOURCE_DIR) / "resources" / "Tessaril_TessarilCore.bundle";
}

// The guard the application builds from its own resources, with no installed file.
inline CommandGuard shippedGuard() {
    const ResourceBundle bundle(shippedBundleDirectory());
    return CommandGuard(&bundle, nullptr);
}

}  // namespace tessaril::testing
