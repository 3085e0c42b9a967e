// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/URLComponents.h"

#include <array>
#include <optional>
#include <span>
#include <string_view>

// Rules for a few sites that the rule files cannot express: they depend on the host together with
// other parameters or the path, or keep what a general rule would remove.
namespace tessaril::site_rules {

// Hosts compared in lower case; the first two also cover their subdomains.
inline constexpr std::string_view redditPrimaryDomain = "reddit.com";
inline constexpr std::string_view googleSearchPrimaryDomain = "google.com";
inline constexpr std::string_view youTubeMusicHost = "music.youtube.com";

// Left behind by the site's bot check when a link is copied from a challenge page.
inline constexpr std::array<std::string_view, 4> redditJSChallengeParams = {"solution", "js_challenge", "token",
                                                                            "jsc_orig_r"};
// Tells the search service which browser build ran the search.
inline constexpr std::array<std::string_view, 1> googleSearchParamsToStrip = {"client"};
// A fragment carrying any of these holds the search page's local-result state.
inline constexpr std::array<std::string_view, 5> googleSearchLocalFragmentMarkers = {
    "lkt=", "lpg=", "trex=", "rc_ludocids:", "trex_id:"};
// On the music site these select what plays; without them the link opens something else.
inline constexpr std::array<std::string_view, 2> youTubeMusicKeptParams = {"si", "is"};

// The decoded host in lower case, or nothing when the link has none.
[[nodiscard]] std::optional<std::string> lowerCaseHost(const URLComponents& components);

// redditJSChallengeParams when the link is on the Reddit domain and carries a sign of the challenge
// (js_challenge=1, both solution and token, or jsc_orig_r); otherwise nothing. `lowerHost` is the
// link's host in lower case.
[[nodiscard]] std::span<const std::string_view> redditJSChallengeParamsToStrip(
    const URLComponents& components, std::optional<std::string_view> lowerHost);
// A results page of the search service on its primary domain (any subdomain, no country domains):
// path "/search" and a "q" parameter.
[[nodiscard]] bool isGoogleSearchURL(const URLComponents& components, std::optional<std::string_view> lowerHost);
// A search results link whose non-empty fragment holds local-result state.
[[nodiscard]] bool shouldClearGoogleSearchLocalFragment(const URLComponents& components);
// A parameter the music site needs kept (any letter case).
[[nodiscard]] bool isKeptOnMusicSite(std::string_view name);

}  // namespace tessaril::site_rules
