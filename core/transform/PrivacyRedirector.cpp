// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/PrivacyRedirector.h"

#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

#include <algorithm>
#include <array>

namespace tessaril {

namespace {

// Only the hosts people actually share links from. Other subdomains (status pages, developer sites,
// media hosts) serve things the front ends cannot show, so they are left alone.
constexpr std::array<std::string_view, 5> kXTwitterHosts = {
    "x.com", "www.x.com", "twitter.com", "www.twitter.com", "mobile.twitter.com",
};
constexpr std::array<std::string_view, 6> kRedditHosts = {
    "reddit.com", "www.reddit.com", "old.reddit.com", "new.reddit.com", "m.reddit.com", "np.reddit.com",
};

bool isWebScheme(const URLComponents& components) {
    auto scheme = components.scheme();
    if (!scheme) return false;
    auto lower = text::asciiLower(*scheme);
    return lower == "http" || lower == "https";
}

// The decoded host in lower case; nothing when there is none or it is empty.
std::optional<std::string> lowerCaseHost(const URLComponents& components) {
    auto host = components.host();
    if (!host || host->empty()) return std::nullopt;
    return text::toLower(*host);
}

}  // namespace

bool PrivacyRedirector::isXTwitterHost(std::string_view lowerCaseHost) {
    return std::find(kXTwitterHosts.begin(), kXTwitterHosts.end(), lowerCaseHost) != kXTwitterHosts.end();
}

bool PrivacyRedirector::isRedditHost(std::string_view lowerCaseHost) {
    return std::find(kRedditHosts.begin(), kRedditHosts.end(), lowerCaseHost) != kRedditHosts.end();
}

std::optional<PrivacyRedirectResult> PrivacyRedirector::redirect(std::string_view urlString,
                                                                 const PrivacyRedirectSettings& settings) const {
    auto link = URLComponents::parse(urlString);
    if (!link || !isWebScheme(*link)) return std::nullopt;
    auto host = lowerCaseHost(*link);
    if (!host) return std::nullopt;

    PrivacyRedirectService service;
    std::string_view base;
    std::string_view fallback;
    if (settings.xRedirectEnabled && isXTwitterHost(*host)) {
        service = PrivacyRedirectService::xTwitter;
        base = PrivacyRedirectSettings::defaultXFrontendBaseURL;
        fallback = PrivacyRedirectSettings::defaultXFrontendBaseURL;
    } else if (settings.redditRedirectEnabled && isRedditHost(*host)) {
        service = PrivacyRedirectService::reddit;
        base = settings.redditFrontendBaseURL;
        fallback = PrivacyRedirectSettings::defaultRedditFrontendBaseURL;
    } else {
        return std::nullopt;
    }

    auto frontendText = normalizedFrontendBaseURL(base, fallback);
    if (!frontendText) return std::nullopt;
    auto frontend = URLComponents::parse(*frontendText);
    if (!frontend) return std::nullopt;
    auto frontendHost = lowerCaseHost(*frontend);
    // A front end that is itself one of the site's hosts would send the link back where it came from.
    if (!frontendHost || *frontendHost == *host) return std::nullopt;

    // Assembled from the parts as written, so that the path, query and fragment keep every byte; the
    // link's user name, password and port go with its authority.
    std::string rewritten = text::asciiLower(frontend->scheme().value_or("https"));
    rewritten += "://";
    rewritten += frontend->percentEncodedHost().value_or("");
    if (auto port = frontend->portText(); port && !port->empty()) {
        rewritten += ':';
        rewritten += *port;
    }
    rewritten += link->percentEncodedPath();
    if (auto query = link->percentEncodedQuery()) {
        rewritten += '?';
        rewritten += *query;
    }
    if (auto fragment = link->percentEncodedFragment()) {
        rewritten += '#';
        rewritten += *fragment;
    }
    if (!URLComponents::parse(rewritten) || rewritten == urlString) return std::nullopt;

    return PrivacyRedirectResult{std::string(urlString), std::move(rewritten), service, std::move(*host),
                                 std::move(*frontendHost)};
}

std::optional<std::string> PrivacyRedirector::normalizedFrontendBaseURL(std::string_view base,
                                                                        std::optional<std::string_view> fallback) {
    std::string_view trimmed = text::trim(base);
    std::string candidate;
    if (trimmed.find("://") != std::string_view::npos) {
        candidate = trimmed;
    } else if (!trimmed.empty()) {
        // People type the host name alone; the front ends all speak HTTPS.
        candidate = "https://";
        candidate += trimmed;
    } else if (fallback) {
        candidate = *fallback;
    } else {
        return std::nullopt;
    }

    auto parsed = URLComponents::parse(candidate);
    bool accepted = parsed && isWebScheme(*parsed) && !parsed->percentEncodedHost().value_or("").empty() &&
                    !parsed->percentEncodedUser() && !parsed->percentEncodedPassword() &&
                    !parsed->percentEncodedQuery() && !parsed->percentEncodedFragment();
    if (!accepted) {
        // An unusable setting does not switch the rewrite off: it falls back to the default front end.
        if (fallback && *fallback != base) return normalizedFrontendBaseURL(*fallback, std::nullopt);
        return std::nullopt;
    }

    // A front end is always a root: links keep their own path after it.
    auto path = parsed->percentEncodedPath();
    if (!path.empty() && path != "/" && !parsed->setPercentEncodedPath("")) {
        if (fallback) return normalizedFrontendBaseURL(*fallback, std::nullopt);
        return std::nullopt;
    }
    std::string result = parsed->string();
    if (!result.empty() && result.back() == '/') result.pop_back();
    return result;
}

}  // namespace tessaril
