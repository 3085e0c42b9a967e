// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Date.h"

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// The most recent clean that changed a link, kept so that the user can undo it.
struct LastCleanRecord {
    // Where a clean happened: the clipboard cleaner, or a share link resolved over the network.
    static constexpr std::string_view clipboardSurface = "macOSClipboard";
    static constexpr std::string_view networkResolutionSurface = "macOSNetworkResolution";

    std::string originalURL;
    std::string cleanedURL;
    Date cleanedAt{};
    std::string surface;

    // The keys "originalURL", "cleanedURL", "cleanedAt" (ISO 8601 internet date-time, whole seconds,
    // UTC) and "surface".
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // All four keys are required as strings and the date must read back; anything else fails.
    [[nodiscard]] static std::optional<LastCleanRecord> fromJson(const nlohmann::json& json);
    // The same from JSON text; text that does not parse fails without throwing.
    [[nodiscard]] static std::optional<LastCleanRecord> fromJsonText(std::string_view text);

    bool operator==(const LastCleanRecord&) const = default;
};

}  // namespace tessaril
