// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanOperation.h"

#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// The map service a converted link opens.
enum class MapLinkTarget { appleMaps, googleMaps };

// "appleMaps" or "googleMaps": the identifier and the JSON form.
[[nodiscard]] constexpr std::string_view rawValue(MapLinkTarget target) {
    return target == MapLinkTarget::appleMaps ? "appleMaps" : "googleMaps";
}

// A map link converted to the other map service, with the step as a clean result records it.
struct MapLinkTransformation {
    MapLinkTarget target = MapLinkTarget::googleMaps;
    // The converted link.
    std::string url;
    // A functionalTransformation from the link as given to `url`, with no network and the menu's
    // wording as its note.
    CleanOperation operation;

    // The keys "target", "url", "operation".
    [[nodiscard]] nlohmann::ordered_json toJson() const;

    bool operator==(const MapLinkTransformation&) const = default;
};

}  // namespace tessaril
