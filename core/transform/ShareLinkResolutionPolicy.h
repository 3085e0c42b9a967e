// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/transform/ShareLinkService.h"

#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// What a share link of Instagram, Threads or Reddit looks like, where resolving it may go, and which
// final address counts as the post it wraps. Pure and offline: the resolver that fetches the link
// asks these questions before the request, at every redirect and of the final address, and the
// clipboard watcher asks service() to tell whether a copied link can be resolved at all.
//
// Every link is read strictly: "https" in any case, a host, and no user name, password or port
// (not even an empty one). Hosts are compared in lower case; where noted, one leading "www." is
// dropped first. Path segments are the pieces between "/", empty ones left out.
class ShareLinkResolutionPolicy {
public:
    // The service whose share wrapper `url` is: a Reddit "/r/SUBREDDIT/s/TOKEN" on a Reddit host, a
    // Reddit short link "/TOKEN", or "/share/TOKEN" on Instagram or Threads (with or without "www.").
    [[nodiscard]] static std::optional<ShareLinkService> service(std::string_view url);

    // Whether a redirect of `service` may go to `host` (case and one "www." aside): Instagram's or
    // Threads' own domains, or for Reddit its listed hosts and the short-link domain.
    [[nodiscard]] static bool allowedRedirectHost(std::optional<std::string_view> host, ShareLinkService service);
    // The whole decision on a proposed redirect target: a strict https link on an allowed host.
    [[nodiscard]] static bool allowedRedirect(std::string_view proposedURL, ShareLinkService service);

    // `candidateURL`, query and fragment as they are, when it is a post link of the service of the
    // share link `inputURL`: "/p/", "/reel/" or "/tv/" ID on Instagram, "/@NAME/post/ID" on Threads,
    // "/r/SUBREDDIT/comments/ID[/SLUG]" on a Reddit host, holding no control, format or line
    // separator character anywhere. Otherwise nothing.
    [[nodiscard]] static std::optional<std::string> validatedCanonicalURL(std::string_view inputURL,
                                                                          std::string_view candidateURL);

    // A readable title for a Reddit post link: the words of its slug when they are plain text, cut
    // to 120 characters, else "Reddit post in r/" and the subreddit. Nothing for any other link.
    [[nodiscard]] static std::optional<std::string> redditTitle(std::string_view url);
};

}  // namespace tessaril
