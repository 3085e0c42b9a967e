// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>

namespace tessaril {

// The contentDigest of each shipped rule file whose every pattern the build has loaded; the build
// writes this function's definition from the files it ships.
[[nodiscard]] std::span<const std::uint64_t> checkedShippedRuleFiles();

}  // namespace tessaril
