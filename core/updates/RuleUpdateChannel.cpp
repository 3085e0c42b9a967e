// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RuleUpdateChannel.h"

#include "core/updates/StaticUpdateSession.h"

namespace tessaril {

std::string_view rawValue(RuleUpdateChannel channel) {
    return channel == RuleUpdateChannel::beta ? "beta" : "stable";
}

std::optional<RuleUpdateChannel> ruleUpdateChannel(std::string_view rawValue) {
    if (rawValue == "stable") return RuleUpdateChannel::stable;
    if (rawValue == "beta") return RuleUpdateChannel::beta;
    return std::nullopt;
}

std::string_view displayName(RuleUpdateChannel channel) {
    return channel == RuleUpdateChannel::beta ? "Beta" : "Stable";
}

std::string_view manifestPath(RuleUpdateChannel channel) {
    return channel == RuleUpdateChannel::beta ? "/tessaril/rules/beta/manifest.json" : "/tessaril/rules/manifest.json";
}

std::string manifestURL(RuleUpdateChannel channel) {
    return "https://" + std::string(StaticUpdateSession::originHost) + std::string(manifestPath(channel));
}

}  // namespace tessaril
