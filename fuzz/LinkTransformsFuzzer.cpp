// SPDX-License-Identifier: GPL-3.0-or-later
// The link transformations on arbitrary text: the map conversion, the share-link policy and the
// share-link resolver over a scripted web. Beyond "no crash":
// - a map conversion is an https link of the other service with no credentials or port, holding no
//   control character or blank, recorded as such, and it converts back (short of a label holding
//   "/", which cannot stay one path segment of a Google place link);
// - whatever the policy takes as a share link, a redirect target or a canonical post link is strict
//   https (a host, no user, password or port), and a post link is one a redirect may reach, kept
//   exactly as given and free of control, format and line separator characters;
// - a Reddit title exists exactly for the links that are canonical Reddit posts, and is valid UTF-8
//   of at most 120 characters without control or format characters;
// - the resolver contacts nothing for what is no share link, and otherwise only the link and at
//   most four redirect targets that stay on its service; what it resolves to is the last address it
//   reached, a post link of the service.
// The input is one text; with a line feed in it, the part before is also tried as the share link of
// the part after, and the lines are a chain of redirects (below) for the resolver.
#include "core/conversions/MapLinkTransformer.h"
#include "core/foundation/ScriptedHttpsClient.h"
#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"
#include "core/transform/ShareLinkResolutionPolicy.h"
#include "core/transform/ShareLinkResolver.h"
#include "fuzz/FuzzSupport.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

using namespace tessaril;
using Policy = ShareLinkResolutionPolicy;

constexpr ShareLinkService kServices[] = {ShareLinkService::instagram, ShareLinkService::threads,
                                          ShareLinkService::reddit};
// One share link of each service, for the candidates.
constexpr std::string_view kShareLinks[] = {"https://www.instagram.com/share/x", "https://threads.net/share/x",
                                            "https://redd.it/x"};

// Strict https: the text parses, the scheme is https in any case, there is a host, and no user,
// password or port.
bool isStrictHttps(std::string_view link) {
    const auto components = URLComponents::parse(link);
    return components && text::asciiLower(components->scheme().value_or("")) == "https" &&
           !components->percentEncodedHost().value_or("").empty() && !components->percentEncodedUser() &&
           !components->percentEncodedPassword() && !components->portText();
}

std::string hostOf(std::string_view link) {
    return URLComponents::parse(link)->host().value_or("");
}

void checkMapConversion(std::string_view text) {
    const auto transformation = MapLinkTransformer::transform(text);
    if (!transformation) return;
    const bool toGoogle = transformation->target == MapLinkTarget::googleMaps;
    const std::string& url = transformation->url;
    FUZZ_CHECK(isStrictHttps(url) && fuzz::holdsNoControlOrBlank(url));
    FUZZ_CHECK(URLComponents::parse(url)->scheme() == "https");
    FUZZ_CHECK(hostOf(url) == (toGoogle ? "www.google.com" : "maps.apple.com"));
    FUZZ_CHECK(transformation->operation.kind == CleanOperationKind::functionalTransformation);
    FUZZ_CHECK(transformation->operation.inputURL == text && transformation->operation.outputURL == url);
    FUZZ_CHECK(!transformation->operation.networkUsed && transformation->operation.removedParameters.empty());

    const auto back = MapLinkTransformer::transform(url);
    if (back) {
        FUZZ_CHECK(back->target != transformation->target);
    } else {
        const auto path = URLComponents::parse(url)->path();
        FUZZ_CHECK(toGoogle && path && text::nonEmptyPieces(*path, '/').size() != 4);
    }
}

// Valid UTF-8 holding no character of the categories in `mask`.
bool holdsNone(std::string_view text, std::uint32_t mask) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    for (std::int32_t at = 0; at < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, at, length, c);
        if (c < 0 || (U_GET_GC_MASK(c) & mask) != 0) return false;
    }
    return true;
}

// Control, format and line separator characters.
constexpr std::uint32_t kInvisible = U_GC_CC_MASK | U_GC_CF_MASK | U_GC_ZL_MASK | U_GC_ZP_MASK;

bool isPlainTitle(std::string_view title) {
    return !title.empty() && text::graphemeCount(title) <= 120 && holdsNone(title, U_GC_CC_MASK | U_GC_CF_MASK);
}

void checkCanonical(std::string_view shareLink, std::string_view candidate) {
    const auto canonical = Policy::validatedCanonicalURL(shareLink, candidate);
    if (!canonical) return;
    const auto service = Policy::service(shareLink);
    FUZZ_CHECK(service && *canonical == candidate && isStrictHttps(candidate));
    FUZZ_CHECK(Policy::allowedRedirect(candidate, *service));
    FUZZ_CHECK(holdsNone(candidate, kInvisible));
}

// The first line is the share link; each address redirects to the next line (an empty line stands
// for a Location that cannot be resolved) and the last answers with a page.
void checkResolution(std::string_view text) {
    const std::vector<std::string_view> lines = [&] {
        std::vector<std::string_view> pieces;
        for (std::size_t from = 0, end = 0; end != std::string_view::npos; from = end + 1) {
            end = text.find('\n', from);
            pieces.push_back(text.substr(from, end == std::string_view::npos ? end : end - from));
        }
        return pieces;
    }();
    ScriptedHttpsClient web;
    for (std::size_t at = 0; at + 1 < lines.size(); ++at) {
        web.answer(std::string(lines[at]),
                   ScriptedHttpsClient::redirect(lines[at + 1].empty() ? std::nullopt
                                                                       : std::optional(std::string(lines[at + 1]))));
    }
    web.answer(std::string(lines.back()), {});

    const std::string_view shareLink = lines.front();
    const ShareLinkResolution outcome = ShareLinkResolver::resolve(web, shareLink);
    const auto service = Policy::service(shareLink);
    const auto& requests = web.requests();
    if (!service) {
        FUZZ_CHECK(std::get<ShareLinkResolutionError>(outcome) == ShareLinkResolutionError::unsupported);
        FUZZ_CHECK(requests.empty());
        return;
    }
    FUZZ_CHECK(!requests.empty() && requests.size() <= 1 + ShareLinkResolver::maximumRedirects);
    FUZZ_CHECK(requests.front().url == shareLink);
    for (std::size_t at = 1; at < requests.size(); ++at)
        FUZZ_CHECK(Policy::allowedRedirect(requests[at].url, *service));
    if (const auto* resolved = std::get_if<ResolvedShareLink>(&outcome)) {
        FUZZ_CHECK(resolved->originalURL == shareLink && resolved->contactedHost == hostOf(shareLink));
        FUZZ_CHECK(resolved->canonicalURL == requests.back().url &&
                   static_cast<std::size_t>(resolved->redirectCount) + 1 == requests.size());
        FUZZ_CHECK(Policy::validatedCanonicalURL(shareLink, resolved->canonicalURL) == resolved->canonicalURL);
        checkCanonical(shareLink, resolved->canonicalURL);
    }
}

void checkSharePolicy(std::string_view text) {
    if (Policy::service(text)) FUZZ_CHECK(isStrictHttps(text));
    for (const ShareLinkService service : kServices) {
        if (Policy::allowedRedirect(text, service)) {
            FUZZ_CHECK(isStrictHttps(text) && Policy::allowedRedirectHost(hostOf(text), service));
        }
    }
    for (const std::string_view shareLink : kShareLinks)
        checkCanonical(shareLink, text);

    // A post link a user copied still has a title when it holds what no resolved one may.
    const auto title = Policy::redditTitle(text);
    const bool canonical = Policy::validatedCanonicalURL("https://redd.it/x", text).has_value();
    FUZZ_CHECK(title.has_value() == canonical || (title && !holdsNone(text, kInvisible)));
    if (title) FUZZ_CHECK(isPlainTitle(*title));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkMapConversion(text);
    checkSharePolicy(text);
    if (const std::size_t split = text.find('\n'); split != std::string_view::npos) {
        checkCanonical(text.substr(0, split), text.substr(split + 1));
        checkMapConversion(text.substr(split + 1));
    }
    checkResolution(text);
    return 0;
}
