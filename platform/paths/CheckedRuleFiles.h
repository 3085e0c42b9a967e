// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/KnownPrefilters.h"

#include <cstdint>
#include <span>

namespace tessaril {

// The contentDigest of each shipped rule file whose every pattern the build has loaded; the build
// writes this function's definition from the files it ships.
[[nodiscard]] std::span<const std::uint64_t> checkedShippedRuleFiles();
// The case-insensitive prefilter of each pattern the matcher reads from the shipped rules, in
// ascending order of pattern; written by the build with the digests.
[[nodiscard]] std::span<const KnownPrefilter> knownShippedPrefilters();

}  // namespace tessaril
