// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace tessaril {

// A share link resolved over the network to the post it wraps.
struct ResolvedShareLink {
    // The share link as given.
    std::string originalURL;
    // The final address, as ShareLinkResolutionPolicy::validatedCanonicalURL accepted it.
    std::string canonicalURL;
    // The share link's host: the only host contacted directly.
    std::string contactedHost;
    // Redirects followed on the way, 0 to ShareLinkResolver::maximumRedirects.
    int redirectCount = 0;

    bool operator==(const ResolvedShareLink&) const = default;
};

}  // namespace tessaril
