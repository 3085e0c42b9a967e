// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanOperationKind.h"

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// One step of a clean: what went in, what came out, and whether the network was involved.
struct CleanOperation {
    CleanOperationKind kind = CleanOperationKind::localParameterRemoval;
    std::string inputURL;
    std::string outputURL;
    std::vector<std::string> removedParameters;
    bool networkUsed = false;
    std::optional<std::string> contactedHost;
    std::optional<std::string> note;

    bool operator==(const CleanOperation&) const = default;

    // The fields under their names in declaration order; absent optionals are left out.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // The first five keys are required with their exact types; the optionals may be absent or null.
    [[nodiscard]] static std::optional<CleanOperation> fromJson(const nlohmann::json& json);
};

}  // namespace tessaril
