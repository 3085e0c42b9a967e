// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tessaril {

// Why a share link was not resolved. The caller keeps the locally cleaned link and shows
// description() unchanged.
enum class ShareLinkResolutionError {
    // Not a share link of a supported service; nothing was contacted.
    unsupported,
    // A redirect left the service, dropped HTTPS, or there were too many.
    unsafeRedirect,
    // The final address is not a post link of the service.
    noCanonicalDestination,
    // The request itself failed (offline, a time-out).
    requestFailed,
};

[[nodiscard]] std::string_view description(ShareLinkResolutionError error);

}  // namespace tessaril
