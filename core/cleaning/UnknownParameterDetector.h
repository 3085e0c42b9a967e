// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Picks out query parameters that are still in a link and look like share or campaign tags by their
// name alone, so the user can decide whether to block them locally. It never changes a link and
// knows nothing of the rules. Stateless; safe from any thread.
namespace tessaril::UnknownParameterDetector {

inline constexpr std::string_view explanation =
    "Unrecognized share or campaign parameters remain. They may be functional, not tracking. Review before "
    "adding a local block.";

// Longer links are not looked at.
inline constexpr std::size_t inputLimit = 16384;
// At most this many names are reported.
inline constexpr std::size_t resultLimit = 12;
// The name shape a reported parameter must have.
inline constexpr std::string_view namePattern = "\\A[A-Za-z0-9_][A-Za-z0-9_.~-]{0,63}\\z";

// The suspicious names among the query items of an http(s) link with a host and no credentials:
// decoded, without duplicates, sorted by byte order, at most `resultLimit`. Empty for anything else.
[[nodiscard]] std::vector<std::string> inspect(std::string_view urlString);

}  // namespace tessaril::UnknownParameterDetector
