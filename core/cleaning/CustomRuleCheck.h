// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// What a custom rule may be, however it arrives: typed by the user, imported from a file, or read
// back from the preferences. Every custom rule is checked against every parameter of every link,
// so their number is bounded too.
inline constexpr std::size_t maximumCustomRules = 500;
inline constexpr std::size_t maximumCustomRulePatternBytes = 256;
inline constexpr std::size_t maximumCustomRuleNameBytes = 256;

// Why a custom rule for the parameter `pattern`, shown as `displayName`, cannot be kept, or nothing.
// Both must be non-empty UTF-8 text without control characters, within the limits above.
[[nodiscard]] std::optional<std::string> customRuleProblem(std::string_view pattern, std::string_view displayName);

}  // namespace tessaril
