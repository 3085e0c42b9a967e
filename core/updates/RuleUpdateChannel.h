// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// Which published manifest the rules updater follows.
enum class RuleUpdateChannel { stable, beta };

inline constexpr std::array<RuleUpdateChannel, 2> kAllRuleUpdateChannels = {RuleUpdateChannel::stable,
                                                                            RuleUpdateChannel::beta};

// "stable" or "beta": the stored and encoded form, and the channel's identifier.
[[nodiscard]] std::string_view rawValue(RuleUpdateChannel channel);
[[nodiscard]] std::optional<RuleUpdateChannel> ruleUpdateChannel(std::string_view rawValue);
// "Stable" or "Beta".
[[nodiscard]] std::string_view displayName(RuleUpdateChannel channel);
// Where the channel's manifest lies on the static update origin.
[[nodiscard]] std::string_view manifestPath(RuleUpdateChannel channel);
[[nodiscard]] std::string manifestURL(RuleUpdateChannel channel);

}  // namespace tessaril
