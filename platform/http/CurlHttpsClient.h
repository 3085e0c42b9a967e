// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/HttpsClient.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tessaril {

// The HTTPS client on libcurl. Each transfer is its own: no cookie engine, no .netrc, no
// authentication, no cache, https only. The server's certificate is always verified against the
// system's trusted authorities and the host name. curl never follows a redirect itself: every
// 3xx with a Location is offered to the caller's policy with the Location resolved, and the next
// request is issued here. A redirect's body is never read.
//
// The idle time-out is enforced in whole seconds (rounded up), as curl measures a stalled transfer.
class CurlHttpsClient final : public HttpsClient {
public:
    // A private network for tests: the authority to trust instead of the system's, and the loopback
    // port that every connection goes to, whatever the name and port. The tool never builds one;
    // tests construct the client with it, so links keep their real names and port.
    struct LoopbackNetwork {
        // PEM text of the one authority trusted.
        std::string certificateAuthority;
        std::uint16_t port = 0;
    };

    explicit CurlHttpsClient(std::optional<LoopbackNetwork> testNetwork = std::nullopt);

    [[nodiscard]] HttpsResult get(const HttpsRequest& request, const RedirectPolicy& policy) override;

private:
    std::optional<LoopbackNetwork> testNetwork_;
};

}  // namespace tessaril
