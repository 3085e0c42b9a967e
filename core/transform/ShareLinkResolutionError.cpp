// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/ShareLinkResolutionError.h"

namespace tessaril {

std::string_view description(ShareLinkResolutionError error) {
    switch (error) {
        case ShareLinkResolutionError::unsupported:
            return "This is not a supported Instagram, Threads, or Reddit share link.";
        case ShareLinkResolutionError::unsafeRedirect:
            return "The link tried to leave the expected service, so Tessaril stopped.";
        case ShareLinkResolutionError::noCanonicalDestination:
            return "The service did not return a canonical post link.";
        case ShareLinkResolutionError::requestFailed:
            return "The share link could not be resolved. The current locally processed link was kept.";
    }
    return "The share link could not be resolved. The current locally processed link was kept.";
}

}  // namespace tessaril
