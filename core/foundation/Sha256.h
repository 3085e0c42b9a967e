// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace tessaril {

// The SHA-256 digest of `bytes` as 64 lower-case hexadecimal digits, in byte order.
[[nodiscard]] std::string sha256Hex(std::string_view bytes);

}  // namespace tessaril
