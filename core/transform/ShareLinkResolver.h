// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/HttpsClient.h"
#include "core/foundation/TaskExecutor.h"
#include "core/transform/ResolvedShareLink.h"
#include "core/transform/ShareLinkResolutionError.h"
#include "core/transform/ShareLinkService.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

namespace tessaril {

using ShareLinkResolution = std::variant<ResolvedShareLink, ShareLinkResolutionError>;

// Asks a share link's own service where the link leads: one GET of the link, with no cookies,
// credentials or cache, following at most four redirects and only within that service, and
// accepting the final address only when it is a post link of the service. The body is never read.
//
// One resolver guards one request: it counts the redirects it let through and remembers whether it
// refused one. The client asks it on the thread that runs the request, so it needs no lock.
class ShareLinkResolver {
public:
    static constexpr int maximumRedirects = 4;
    // Per wait for the next byte, and for the whole resolution.
    static constexpr std::chrono::seconds requestTimeout{6};
    static constexpr std::chrono::seconds resourceTimeout{8};

    // Blocks for up to resourceTimeout: call it off the main thread. A link that is no supported
    // share link fails with `unsupported` before anything is contacted.
    [[nodiscard]] static ShareLinkResolution resolve(HttpsClient& client, std::string_view shareLink);
    // The same in the background; `done` gets the outcome on the main thread. `client` must outlive
    // the resolution.
    static void resolve(HttpsClient& client, TaskExecutor& executor, std::string shareLink,
                        std::function<void(ShareLinkResolution)> done);

private:
    explicit ShareLinkResolver(ShareLinkService service) : service_(service) {}

    RedirectDecision decide(const HttpsRedirect& redirect);

    ShareLinkService service_;
    int followedRedirects_ = 0;
    bool rejectedRedirect_ = false;
};

}  // namespace tessaril
