// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/ShareLinkResolver.h"

#include "core/foundation/URLComponents.h"
#include "core/transform/ShareLinkResolutionPolicy.h"

#include <utility>

namespace tessaril {

ShareLinkResolution ShareLinkResolver::resolve(HttpsClient& client, std::string_view shareLink) {
    const auto service = ShareLinkResolutionPolicy::service(shareLink);
    const auto components = URLComponents::parse(shareLink);
    const auto host = components ? components->host() : std::nullopt;
    if (!service || !host) return ShareLinkResolutionError::unsupported;

    HttpsRequest request;
    request.url = std::string(shareLink);
    // The services tell where a share link leads in their redirects; a page a cache kept says nothing
    // of that, so caches on the way are asked to revalidate.
    request.headers = {{"User-Agent", "Tessaril/1.0"},
                       {"Accept", "text/html,application/xhtml+xml"},
                       {"Cache-Control", "no-cache"},
                       {"Pragma", "no-cache"}};
    request.idleTimeout = requestTimeout;
    request.totalTimeout = resourceTimeout;
    request.skipsBody = true;

    ShareLinkResolver guard(*service);
    const HttpsResult result =
        client.get(request, [&guard](const HttpsRedirect& redirect) { return guard.decide(redirect); });
    if (guard.rejectedRedirect_) return ShareLinkResolutionError::unsafeRedirect;
    const auto* response = std::get_if<HttpsResponse>(&result);
    if (!response) return ShareLinkResolutionError::requestFailed;
    auto canonical = ShareLinkResolutionPolicy::validatedCanonicalURL(shareLink, response->url);
    if (!canonical) return ShareLinkResolutionError::noCanonicalDestination;
    return ResolvedShareLink{std::string(shareLink), std::move(*canonical), *host, guard.followedRedirects_};
}

void ShareLinkResolver::resolve(HttpsClient& client, TaskExecutor& executor, std::string shareLink,
                                std::function<void(ShareLinkResolution)> done) {
    runInBackgroundThen(
        executor, [&client, shareLink = std::move(shareLink)] { return resolve(client, shareLink); }, std::move(done));
}

RedirectDecision ShareLinkResolver::decide(const HttpsRedirect& redirect) {
    if (!redirect.location || !ShareLinkResolutionPolicy::allowedRedirect(*redirect.location, service_) ||
        followedRedirects_ >= maximumRedirects) {
        rejectedRedirect_ = true;
        return RedirectDecision::stop;
    }
    ++followedRedirects_;
    return RedirectDecision::follow;
}

}  // namespace tessaril
