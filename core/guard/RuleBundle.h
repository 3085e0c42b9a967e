// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/guard/RuleDefinition.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// The document of "command-guard-rules.json": a version, the rules in file order and the named site
// lists the rules' "exceptSites" refer to.
struct RuleBundle {
    std::string currentVersion;
    std::vector<RuleDefinition> rules;
    // "siteLists": an object of lists, each an array of SiteList entries.
    std::map<std::string, std::vector<std::string>> siteLists{};

    // Why a document is no bundle.
    enum class Problem {
        undecodable,
        // A site list that is not an array of well-formed entries, or a rule naming a list the
        // file does not have.
        malformedSiteList,
    };

    bool operator==(const RuleBundle&) const = default;

    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // "currentVersion" (string) and "rules" (array) are required and every rule must decode: one bad
    // rule makes the whole file unusable, so a half-understood file never runs, and so does one
    // malformed site list. Other keys are ignored.
    [[nodiscard]] static std::optional<RuleBundle> fromJson(const nlohmann::json& json, Problem* problem = nullptr);
    // Parses UTF-8 JSON text; malformed text is no bundle.
    [[nodiscard]] static std::optional<RuleBundle> decode(std::string_view data, Problem* problem = nullptr);
};

}  // namespace tessaril
