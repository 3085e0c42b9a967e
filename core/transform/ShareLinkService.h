// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tessaril {

// The services whose share links can be resolved to the post they wrap.
enum class ShareLinkService { instagram, threads, reddit };

// Reddit's short-link domain: its share links live there, and so may a resolution's redirects.
inline constexpr std::string_view kRedditShortLinkHost = "redd.it";

// "instagram", "threads" or "reddit": the identifier and the JSON form.
[[nodiscard]] constexpr std::string_view rawValue(ShareLinkService service) {
    switch (service) {
        case ShareLinkService::instagram:
            return "instagram";
        case ShareLinkService::threads:
            return "threads";
        case ShareLinkService::reddit:
            return "reddit";
    }
    return "reddit";
}

}  // namespace tessaril
