// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/ShareLinkResolutionPolicy.h"

#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <utility>
#include <vector>

namespace tessaril {

namespace {

constexpr std::array<std::string_view, 6> kRedditCanonicalHosts = {
    "reddit.com", "www.reddit.com", "old.reddit.com", "new.reddit.com", "m.reddit.com", "np.reddit.com",
};
constexpr std::string_view kInstagramHost = "instagram.com";
constexpr std::array<std::string_view, 2> kThreadsHosts = {"threads.net", "threads.com"};

constexpr std::size_t kMaximumSubredditLength = 32;
constexpr std::size_t kMaximumTitleLength = 120;

template <std::size_t N>
bool isOneOf(const std::array<std::string_view, N>& hosts, std::string_view host) {
    return std::find(hosts.begin(), hosts.end(), host) != hosts.end();
}

bool isRedditCanonicalHost(std::string_view lowerCaseHost) {
    return isOneOf(kRedditCanonicalHosts, lowerCaseHost);
}

// A link read strictly, with its host in lower case.
struct StrictLink {
    URLComponents components;
    std::string host;
};

std::optional<StrictLink> strictHTTPSLink(std::string_view url) {
    auto components = URLComponents::parse(url);
    if (!components || text::asciiLower(components->scheme().value_or("")) != "https") return std::nullopt;
    if (components->percentEncodedUser() || components->percentEncodedPassword() || components->portText()) {
        return std::nullopt;
    }
    auto host = components->host();
    if (!host || host->empty()) return std::nullopt;
    return StrictLink{std::move(*components), text::toLower(*host)};
}

std::string withoutWww(std::string lowerCaseHost) {
    if (lowerCaseHost.starts_with("www.")) lowerCaseHost.erase(0, 4);
    return lowerCaseHost;
}

// Calls `accepts` with each Unicode scalar of `text`; false at the first it refuses, or at a byte
// that is not UTF-8.
template <class Predicate>
bool everyScalar(std::string_view text, Predicate accepts) {
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t at = 0;
    while (at < length) {
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        if (c < 0 || !accepts(c)) return false;
    }
    return true;
}

// Letters, marks and digits of any script.
bool isAlphanumeric(UChar32 c) {
    return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0;
}

// Control and format characters: what could break a line or reorder text on screen.
bool isControl(UChar32 c) {
    return (U_GET_GC_MASK(c) & (U_GC_CC_MASK | U_GC_CF_MASK)) != 0;
}

// What does not show as itself: controls, format characters (bidirectional overrides, zero-width
// marks) and the line and paragraph separators.
bool isInvisible(UChar32 c) {
    return (U_GET_GC_MASK(c) & (U_GC_CC_MASK | U_GC_CF_MASK | U_GC_ZL_MASK | U_GC_ZP_MASK)) != 0;
}

// A share token or a post identifier (never empty, being a path segment): it decodes to one piece
// of plain text.
bool isToken(std::string_view segment) {
    const auto decoded = text::percentDecode(segment);
    return decoded && decoded->find('/') == std::string::npos &&
           everyScalar(*decoded, [](UChar32 c) { return !isControl(c); });
}

// The decoded name of a subreddit: 1 to 32 characters, letters, digits and "_" only.
std::optional<std::string> safeSubreddit(std::string_view segment) {
    auto decoded = text::percentDecode(segment);
    if (!decoded) return std::nullopt;
    const std::size_t length = text::graphemeCount(*decoded);
    if (length == 0 || length > kMaximumSubredditLength ||
        !everyScalar(*decoded, [](UChar32 c) { return c == '_' || isAlphanumeric(c); })) {
        return std::nullopt;
    }
    return decoded;
}

// "/r/SUBREDDIT/comments/ID" with an optional slug after it, from the percent-encoded segments.
struct RedditPost {
    std::string subreddit;
    std::optional<std::string_view> encodedSlug;
};

std::optional<RedditPost> canonicalRedditPath(const std::vector<std::string_view>& segments) {
    if ((segments.size() != 4 && segments.size() != 5) || segments[0] != "r" || segments[2] != "comments" ||
        !isToken(segments[3])) {
        return std::nullopt;
    }
    auto subreddit = safeSubreddit(segments[1]);
    if (!subreddit) return std::nullopt;
    return RedditPost{std::move(*subreddit), segments.size() == 5 ? std::optional(segments[4]) : std::nullopt};
}

// The slug's words ("_", "-" and white space between them) joined by single blanks, when they are
// plain words and punctuation; nothing otherwise.
std::optional<std::string> titleFromSlug(std::string_view decodedSlug) {
    std::string title;
    bool blankPending = false;
    bool hasAlphanumeric = false;
    const bool plain = everyScalar(decodedSlug, [&](UChar32 c) {
        if (c == '_' || c == '-' || u_isUWhiteSpace(c)) {
            blankPending = !title.empty();
            return true;
        }
        constexpr std::u32string_view punctuation = U"'\u2019.,!?():&+";
        hasAlphanumeric = hasAlphanumeric || isAlphanumeric(c);
        if (!isAlphanumeric(c) && punctuation.find(static_cast<char32_t>(c)) == std::u32string_view::npos) {
            return false;
        }
        if (blankPending) title += ' ';
        blankPending = false;
        // `c` came from well-formed UTF-8, so writing it back cannot fail.
        std::array<std::uint8_t, U8_MAX_LENGTH> bytes{};
        std::int32_t length = 0;
        U8_APPEND_UNSAFE(bytes.data(), length, c);
        title.append(reinterpret_cast<const char*>(bytes.data()), static_cast<std::size_t>(length));
        return true;
    });
    if (!plain || !hasAlphanumeric) return std::nullopt;
    if (text::graphemeCount(title) > kMaximumTitleLength) {
        title = std::string(text::trim(text::graphemePrefix(title, kMaximumTitleLength - 1))) + "\u2026";
    }
    return title;
}

}  // namespace

std::optional<ShareLinkService> ShareLinkResolutionPolicy::service(std::string_view url) {
    const auto link = strictHTTPSLink(url);
    if (!link) return std::nullopt;
    const auto segments = text::nonEmptyPieces(link->components.percentEncodedPath(), '/');
    if (isRedditCanonicalHost(link->host) && segments.size() == 4 && segments[0] == "r" && segments[2] == "s" &&
        safeSubreddit(segments[1]) && isToken(segments[3])) {
        return ShareLinkService::reddit;
    }
    if (link->host == kRedditShortLinkHost && segments.size() == 1 && isToken(segments[0])) {
        return ShareLinkService::reddit;
    }
    if (segments.size() == 2 && segments[0] == "share") {
        const std::string host = withoutWww(link->host);
        if (host == kInstagramHost) return ShareLinkService::instagram;
        if (isOneOf(kThreadsHosts, host)) return ShareLinkService::threads;
    }
    return std::nullopt;
}

bool ShareLinkResolutionPolicy::allowedRedirectHost(std::optional<std::string_view> host, ShareLinkService service) {
    if (!host || host->empty()) return false;
    const std::string normalized = withoutWww(text::toLower(*host));
    switch (service) {
        case ShareLinkService::instagram:
            return normalized == kInstagramHost;
        case ShareLinkService::threads:
            return isOneOf(kThreadsHosts, normalized);
        case ShareLinkService::reddit:
            // Listed hosts only: a Reddit share may hop between them, never to another subdomain.
            return normalized == kRedditShortLinkHost || isRedditCanonicalHost(normalized);
    }
    return false;
}

bool ShareLinkResolutionPolicy::allowedRedirect(std::string_view proposedURL, ShareLinkService service) {
    const auto link = strictHTTPSLink(proposedURL);
    return link && allowedRedirectHost(link->host, service);
}

std::optional<std::string> ShareLinkResolutionPolicy::validatedCanonicalURL(std::string_view inputURL,
                                                                            std::string_view candidateURL) {
    const auto inputService = service(inputURL);
    const auto link = strictHTTPSLink(candidateURL);
    // A server's answer goes to the clipboard and the screen, so it must read as what it is.
    if (!inputService || !link || !everyScalar(candidateURL, [](UChar32 c) { return !isInvisible(c); })) {
        return std::nullopt;
    }
    const std::string host = withoutWww(link->host);
    if (host.empty()) return std::nullopt;

    bool canonical = false;
    if (*inputService == ShareLinkService::reddit) {
        canonical = isRedditCanonicalHost(link->host) &&
                    canonicalRedditPath(text::nonEmptyPieces(link->components.percentEncodedPath(), '/'));
    } else if (const auto path = link->components.path()) {
        const auto segments = text::nonEmptyPieces(*path, '/');
        if (*inputService == ShareLinkService::instagram) {
            canonical = host == kInstagramHost && segments.size() >= 2 &&
                        (segments[0] == "p" || segments[0] == "reel" || segments[0] == "tv");
        } else {
            canonical = isOneOf(kThreadsHosts, host) && segments.size() >= 3 && segments[0].starts_with('@') &&
                        segments[1] == "post";
        }
    }
    if (!canonical) return std::nullopt;
    return link->components.string();
}

std::optional<std::string> ShareLinkResolutionPolicy::redditTitle(std::string_view url) {
    const auto link = strictHTTPSLink(url);
    if (!link || !isRedditCanonicalHost(link->host)) return std::nullopt;
    const auto post = canonicalRedditPath(text::nonEmptyPieces(link->components.percentEncodedPath(), '/'));
    if (!post) return std::nullopt;
    std::optional<std::string> title;
    if (post->encodedSlug) {
        const auto slug = text::percentDecode(*post->encodedSlug);
        if (slug && everyScalar(*slug, [](UChar32 c) { return !isControl(c); })) title = titleFromSlug(*slug);
    }
    return title ? std::move(title) : "Reddit post in r/" + post->subreddit;
}

}  // namespace tessaril
