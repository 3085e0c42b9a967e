// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string_view>

namespace tessaril {

// A fast 64-bit digest of some bytes, for telling whether a file is one seen before (a few
// instructions per eight bytes, against hundreds for SHA-256). It is no defence against a file
// made to collide: use it only where a collision costs speed or tidiness, never safety.
[[nodiscard]] std::uint64_t contentDigest(std::string_view bytes);

}  // namespace tessaril
