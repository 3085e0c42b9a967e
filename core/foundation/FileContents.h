// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace tessaril {

// The whole content of a regular file, or nothing when it is missing, unreadable, not a regular
// file or larger than `maxBytes` (rule files are small; this keeps a wrong path from eating memory).
[[nodiscard]] std::optional<std::string> readFileContents(const std::filesystem::path& file,
                                                          std::size_t maxBytes = std::size_t{64} * 1024 * 1024);

}  // namespace tessaril
