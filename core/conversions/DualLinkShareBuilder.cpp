// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversions/DualLinkShareBuilder.h"

#include "core/foundation/Text.h"
#include "core/transform/ShareLinkResolutionPolicy.h"

namespace tessaril {

std::optional<std::string> DualLinkShareBuilder::body(const CleanResult& result,
                                                      std::optional<std::string_view> context) {
    if (!result.privacyRedirect || !result.cleanedOriginalURL || *result.cleanedOriginalURL == result.cleanedURL) {
        return std::nullopt;
    }
    std::string message;
    const auto title = ShareLinkResolutionPolicy::redditTitle(*result.cleanedOriginalURL);
    if (title) message += *title + "\n";
    message += *result.cleanedOriginalURL + "\n";
    // A Reddit post speaks for itself through its title.
    if (const auto line = normalizedContext(context); line && !title) message += *line + "\n";
    message += "\nPrivacy link: " + result.cleanedURL;
    return message;
}

std::optional<std::string> DualLinkShareBuilder::normalizedContext(std::optional<std::string_view> context) {
    if (!context) return std::nullopt;
    const std::string_view trimmed = text::trim(*context);
    if (trimmed.empty()) return std::nullopt;
    return std::string(trimmed);
}

}  // namespace tessaril
