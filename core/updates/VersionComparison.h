// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tessaril {

// Dotted numeric versions: pieces split at "." (empty pieces dropped), each read as a decimal
// integer with an optional sign, where a piece that is no number or overflows counts as 0; the
// shorter list is padded with zeros. So 1.10 is after 1.9, 1 equals 1.0, 1.beta equals 1.0 and
// 2..1 equals 2.1. Negative, zero or positive, as a comes before, equals or follows b.
[[nodiscard]] int compareVersions(std::string_view a, std::string_view b);

// The order people expect in a file list, in the user's locale: runs of digits compare by their
// value and letters without regard to case ("2026.12.9" before "2026.12.10", "Beta" equal to
// "beta"). Rules versions are compared this way, since they need not be numbers only.
[[nodiscard]] int localizedStandardCompare(std::string_view a, std::string_view b);

}  // namespace tessaril
