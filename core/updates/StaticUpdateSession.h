// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/HttpsClient.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace tessaril {

// Everything the product fetches for updates comes from one static file origin of the maker: this
// is the one place that decides what counts as that origin (for every redirect too) and how much of
// an answer is read. Requests are plain GETs of static files with no cookies, credentials or cache;
// the client port guarantees that for every transfer.
class StaticUpdateSession {
public:
    static constexpr std::string_view originHost = "updates.orvellelabs.com";
    // The session's own settings: the longest wait for the next byte, and for a whole transfer.
    static constexpr std::chrono::seconds requestTimeout{30};
    static constexpr std::chrono::seconds resourceTimeout{90};

    // `client` must outlive the session; it is used from background threads, one transfer at a time
    // per caller.
    explicit StaticUpdateSession(HttpsClient& client) : client_(client) {}

    // True only for "https://" + originHost, as written, with no user or password, no port other
    // than 443, no query or fragment, and a path under "/tessaril/".
    [[nodiscard]] static bool allowed(std::string_view url);
    // A redirect is followed only to where allowed() agrees; otherwise the transfer ends with the
    // redirect response itself, whose 3xx status every caller treats as a failure.
    [[nodiscard]] static RedirectDecision redirectDecision(const HttpsRedirect& redirect);
    // A GET of `url` with the session's time-outs.
    [[nodiscard]] static HttpsRequest request(std::string url);

    // Performs `request` and returns the response with its whole body, never holding more than
    // `limit` bytes: a declared length over the limit fails before the body is read, and so does
    // the first byte past it (HttpsError::tooLarge). The status is not examined here. Blocks: call
    // it in the background.
    [[nodiscard]] HttpsResult boundedData(HttpsRequest request, std::size_t limit) const;

private:
    HttpsClient& client_;
};

// The sentence shown after "Could not check for rule updates: " and the like.
[[nodiscard]] std::string_view description(HttpsError error);

}  // namespace tessaril
