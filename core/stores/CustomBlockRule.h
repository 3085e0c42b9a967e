// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/stores/CustomBlockError.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// One entry of the user's parameter blocklist: an exact query-parameter name, either for every site
// (no site) or for one exact host name.
struct CustomBlockRule {
    // Case-sensitive, never trimmed or folded.
    std::string parameter;
    // Absent for a global rule; otherwise a canonical (lower-case) host name.
    std::optional<std::string> site;

    bool operator==(const CustomBlockRule&) const = default;

    // The site, or "*" for a global rule, then ":", then the parameter. Unique within a valid list.
    [[nodiscard]] std::string id() const;

    // 1 to 64 characters: an ASCII letter, digit or "_", then also ".", "~" or "-".
    [[nodiscard]] static bool validParameter(std::string_view text);
    // The host name as canonicalHostName() gives it (the rule the site exceptions share): lower case,
    // at least two labels, non-ASCII names in their ASCII form, IPv6 addresses in brackets; blanks, a
    // scheme, a port, a path or a wildcard make it invalid.
    [[nodiscard]] static std::optional<std::string> canonicalSite(std::string_view text);

    // The validating constructor: invalidParameter (checked first) or invalidSite, else the rule
    // with the parameter as given and the canonical site.
    [[nodiscard]] static std::variant<CustomBlockRule, CustomBlockError> validated(
        std::string_view parameter, std::optional<std::string_view> site);

    // {"parameter": ..., "site": ...}, "site" left out for a global rule.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // Checks the JSON types only ("site" may be missing or null); the store validates whole lists.
    [[nodiscard]] static std::optional<CustomBlockRule> fromJson(const nlohmann::json& json);
};

}  // namespace tessaril
