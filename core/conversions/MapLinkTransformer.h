// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/conversions/MapLinkTransformation.h"

#include <optional>
#include <string_view>

namespace tessaril {

// Converts an Apple Maps link into the matching Google Maps link and back, offline, from the text
// alone. Only a few link shapes are understood (directions, coordinates with an optional label and
// zoom, a search), and only when every parameter of the link belongs to its shape: a link carrying
// anything the other service could not express gets no conversion rather than losing it. Stateless.
class MapLinkTransformer {
public:
    // The conversion, or nothing: not an https link of either service (credentials and ports
    // included), an unknown or extra parameter, an empty destination or search, an unknown travel
    // mode, a zoom outside 0...22, a malformed coordinate pair, or a place identifier.
    [[nodiscard]] static std::optional<MapLinkTransformation> transform(std::string_view urlString);
};

}  // namespace tessaril
