// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaril::base64 {

// The standard alphabet ends in "+" and "/"; the one made for links and file names in "-" and "_".
enum class Alphabet { standard, urlSafe };

// The bytes `text` encodes, strictly: every character from the alphabet, the "=" padding either
// absent or complete (only at the end, filling the last group of four), and no group of one
// character, which holds no whole byte. Nothing otherwise, or when the bytes would pass
// `maximumBytes`; an empty text decodes to nothing at all rather than to no bytes.
[[nodiscard]] std::optional<std::string> decode(std::string_view text, Alphabet alphabet, std::size_t maximumBytes);

}  // namespace tessaril::base64
