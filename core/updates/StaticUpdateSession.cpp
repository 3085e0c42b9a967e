// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/StaticUpdateSession.h"

#include "core/foundation/URLComponents.h"

#include <utility>

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

RedirectDecision StaticUpdateSession::redirectDecision(const HttpsRedirect& redirect) {
    return redirect.location && allowed(*redirect.location) ? RedirectDecision::follow : RedirectDecision::stop;
}

HttpsRequest StaticUpdateSession::request(std::string url) {
    HttpsRequest request;
    request.url = std::move(url);
    request.idleTimeout = requestTimeout;
    request.totalTimeout = resourceTimeout;
    return request;
}

HttpsResult StaticUpdateSession::boundedData(HttpsRequest request, std::size_t limit) const {
    request.bodyLimit = limit;
    request.skipsBody = false;
    return client_.get(request, &StaticUpdateSession::redirectDecision);
}

std::string_view description(HttpsError error) {
    switch (error) {
        case HttpsError::invalidURL:
            return "The address is not a valid https link.";
        case HttpsError::timedOut:
            return "The request timed out.";
        case HttpsError::tooLarge:
            return "The resource exceeds the maximum size.";
        case HttpsError::tlsFailed:
            return "A secure connection to the server could not be made.";
        case HttpsError::connectionFailed:
            break;
    }
    return "Could not connect to the server.";
}

}  // namespace tessaril
