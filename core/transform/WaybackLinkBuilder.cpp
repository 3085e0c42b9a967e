// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/WaybackLinkBuilder.h"

#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

namespace tessaril {

std::optional<std::string> WaybackLinkBuilder::lookupURL(std::string_view url) {
    const std::string_view trimmed = text::trim(url);
    const auto link = URLComponents::parse(trimmed);
    if (!link) return std::nullopt;
    const std::string scheme = text::asciiLower(link->scheme().value_or(""));
    if ((scheme != "http" && scheme != "https") || link->percentEncodedHost().value_or("").empty()) {
        return std::nullopt;
    }
    return std::string(lookupPrefix) + std::string(trimmed);
}

}  // namespace tessaril
