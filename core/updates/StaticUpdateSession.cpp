// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/StaticUpdateSession.h"

#include "core/foundation/URLComponents.h"

namespace tessaril {

bool StaticUpdateSession::allowed(std::string_view url) {
    const auto components = URLComponents::parse(url);
    if (!components || components->scheme() != "https") return false;
    if (components->percentEncodedHost() != originHost) return false;
    if (components->percentEncodedUser() || components->percentEncodedPassword()) return false;
    if (components->portText() && components->port() != 443) return false;
    if (components->percentEncodedQuery() || components->percentEncodedFragment()) return false;
    const auto path = components->path();
    return path && path->starts_with("/tessaril/");
}

}  // namespace tessaril
