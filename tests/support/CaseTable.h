// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tables of cases kept as data under tests/data: a JSON array of rows, with // comments saying why a
// row is there. An unreadable table is an empty one, which the suites refuse.

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/support/Fixtures.h"

namespace tessaril::testing {

inline nlohmann::json readCases(const std::filesystem::path& relative) {
    const auto table = nlohmann::json::parse(
        readFile(std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data" / relative), nullptr, false, true);
    return table.is_array() ? table : nlohmann::json::array();
}

}  // namespace tessaril::testing
