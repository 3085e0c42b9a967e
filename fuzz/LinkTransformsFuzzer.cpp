// SPDX-License-Identifier: GPL-3.0-or-later
// The offline link transformations on arbitrary text: the map conversion and the share-link
// policy. Beyond "no crash":
// - a map conversion is an https link of the other service with no credentials or port, holding no
//   control character or blank, recorded as such, and it converts back (short of a label holding
//   "/", which cannot stay one path segment of a Google place link);
// - whatever the policy takes as a share link, a redirect target or a canonical post link is strict
//   https (a host, no user, password or port), and a post link is one a redirect may reach, kept
//   exactly as given and free of control, format and line separator characters;
// - a Reddit title exists exactly for the links that are canonical Reddit posts, and is valid UTF-8
//   of at most 120 characters without control or format characters.
// The input is one text; with a line feed in it, the part before is also tried as the share link of
// the part after.
#include "core/conversions/MapLinkTransformer.h"
#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"
#include "core/transform/ShareLinkResolutionPolicy.h"
#include "fuzz/FuzzSupport.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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
    return 0;
}
