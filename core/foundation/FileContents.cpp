// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/FileContents.h"

#include <fstream>
#include <iterator>
#include <system_error>

namespace tessaril {

std::optional<std::string> readFileContents(const std::filesystem::path& file, std::size_t maxBytes) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > maxBytes) return std::nullopt;
    std::ifstream stream(file, std::ios::binary);
    if (!stream) return std::nullopt;
    std::string contents;
    contents.resize(static_cast<std::size_t>(size));
    stream.read(contents.data(), static_cast<std::streamsize>(size));
    if (static_cast<std::uintmax_t>(stream.gcount()) != size) return std::nullopt;
    return contents;
}

}  // namespace tessaril
