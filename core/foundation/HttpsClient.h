// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace tessaril {

// One GET over HTTPS. The transfer is ephemeral: no cookie is sent or kept, no credential is sent,
// nothing is read from or written to a cache, and the request carries only the headers given here.
struct HttpsRequest {
    std::string url;
    // Sent on the first request and again on every redirect that is followed.
    std::vector<std::pair<std::string, std::string>> headers;
    // The longest wait for the next byte (connection and handshake included).
    std::chrono::milliseconds idleTimeout{30'000};
    // The whole transfer, redirects included.
    std::chrono::milliseconds totalTimeout{90'000};
    // The most bytes of the final response's body that are kept: a longer body fails with
    // HttpsError::tooLarge, and so does a declared length over it, before any of the body is read.
    std::size_t bodyLimit = 0;
    // For a caller that needs the final address and status only: the transfer ends as soon as the
    // final response's headers are in, and its body is neither read nor limited.
    bool skipsBody = false;

    bool operator==(const HttpsRequest&) const = default;
};

// A redirect the server answered with, offered to the caller before it is followed.
struct HttpsRedirect {
    // 301, 302, 303, 307 or 308.
    int status = 0;
    // The address that answered with the redirect.
    std::string fromURL;
    // Its Location resolved against fromURL; nothing when that cannot be done (a malformed Location).
    std::optional<std::string> location;

    bool operator==(const HttpsRedirect&) const = default;
};

enum class RedirectDecision { follow, stop };
// Asked once for every redirect, on the thread that called HttpsClient::get, before get returns.
using RedirectPolicy = std::function<RedirectDecision(const HttpsRedirect&)>;

// The response that ended the transfer: the first one that is no redirect, or the redirect the
// policy stopped at (its status is then 3xx and its body is not read).
struct HttpsResponse {
    // The address that gave this response.
    std::string url;
    int status = 0;
    std::string body;
    int redirectCount = 0;

    bool operator==(const HttpsResponse&) const = default;
};

enum class HttpsError {
    // Not an https link the client can send (another scheme, a user name or password, malformed),
    // the first one or a redirect the policy chose to follow.
    invalidURL,
    // No byte for the idle time-out, or the whole transfer over its total time-out.
    timedOut,
    // The body, or its declared length, is over the request's limit.
    tooLarge,
    // The server's certificate is not trusted for its name, or the TLS handshake failed.
    tlsFailed,
    // The name did not resolve, the connection was refused or broke, or the reply was no HTTP.
    connectionFailed,
};

using HttpsResult = std::variant<HttpsResponse, HttpsError>;

// The network, reduced to what the product does with it: fetch one resource over HTTPS, deciding
// each redirect on the way. get() blocks until the transfer ends, so callers run it in the
// background (TaskExecutor) and never on the main thread. Redirects are offered to the policy one
// at a time and followed by the client itself, never by a library behind it, so nothing is
// contacted that the caller did not approve.
class HttpsClient {
public:
    virtual ~HttpsClient() = default;

    [[nodiscard]] virtual HttpsResult get(const HttpsRequest& request, const RedirectPolicy& policy) = 0;
};

}  // namespace tessaril
