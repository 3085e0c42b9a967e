// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tessaril {

// Everything the product fetches for updates comes from one static file origin of the maker. This
// is the one place that decides what counts as that origin.
class StaticUpdateSession {
public:
    static constexpr std::string_view originHost = "updates.orvellelabs.com";

    // True only for "https://" + originHost, as written, with no user or password, no port other
    // than 443, no query or fragment, and a path under "/tessaril/".
    [[nodiscard]] static bool allowed(std::string_view url);
};

}  // namespace tessaril
