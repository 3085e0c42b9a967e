// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanOutcome.h"
#include "core/cleaning/CleanResult.h"
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/URLComponents.h"
#include "core/transform/PrivacyRedirectSettings.h"
#include "core/transform/PrivacyRedirector.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

class CustomBlocklistStore;
class DomainExceptionStore;

// Turns one copied link into a cleaned link and a full account of what was done: trims it, refuses
// what is not a web link, honours the user's site exceptions, unwraps redirect wrappers, applies
// path rules, removes tracking query parameters, clears the search page's local-state fragment and
// applies the optional privacy front-end rewrite.
//
// Kept query items keep their bytes exactly: removing one parameter never re-encodes another, so a
// link that needs no cleaning comes back unchanged. The cleaner holds no per-call state; it is used
// from one thread at a time, like the engine it asks.
class URLCleaner {
public:
    // Site-specific hosts, compared in lower case; the first two also cover their subdomains.
    static constexpr std::string_view redditPrimaryDomain = "reddit.com";
    static constexpr std::string_view googleSearchPrimaryDomain = "google.com";
    static constexpr std::string_view youTubeMusicHost = "music.youtube.com";

    // Left behind by the site's bot check when a link is copied from a challenge page.
    static constexpr std::array<std::string_view, 4> redditJSChallengeParams = {"solution", "js_challenge", "token",
                                                                                "jsc_orig_r"};
    // Tells the search service which browser build ran the search.
    static constexpr std::array<std::string_view, 1> googleSearchParamsToStrip = {"client"};
    // A fragment carrying any of these holds the search page's local-result state.
    static constexpr std::array<std::string_view, 5> googleSearchLocalFragmentMarkers = {
        "lkt=", "lpg=", "trex=", "rc_ludocids:", "trex_id:"};
    // On the music site these select what plays; without them the link opens something else.
    static constexpr std::array<std::string_view, 2> youTubeMusicKeptParams = {"si", "is"};

    // Wrappers inside wrappers are unwrapped this many levels below the first; the target found at
    // the deepest level is returned as it is.
    static constexpr int maximumRedirectDepth = 5;

    // The stores and the engine must outlive the cleaner.
    explicit URLCleaner(RulesEngine& rulesEngine, DomainExceptionStore* exceptionStore = nullptr,
                        PrivacyRedirectSettings privacyRedirectSettings = PrivacyRedirectSettings::disabled());
    URLCleaner(const URLCleaner&) = delete;
    URLCleaner& operator=(const URLCleaner&) = delete;

    [[nodiscard]] RulesEngine& rulesEngine() const { return rulesEngine_; }
    [[nodiscard]] DomainExceptionStore* exceptionStore() const { return exceptionStore_; }

    // The user's local parameter blocklist; none until set. Takes effect from the next call.
    [[nodiscard]] const CustomBlocklistStore* customBlocklist() const { return customBlocklist_; }
    void setCustomBlocklist(const CustomBlocklistStore* blocklist) { customBlocklist_ = blocklist; }

    [[nodiscard]] const PrivacyRedirectSettings& privacyRedirectSettings() const { return privacyRedirectSettings_; }
    void setPrivacyRedirectSettings(PrivacyRedirectSettings settings) {
        privacyRedirectSettings_ = std::move(settings);
    }

    // What becomes of the engine's per-rule match counts: written to its defaults after every
    // cleaned outcome (the default), kept in memory for the caller to save when done, or not counted
    // at all (a run whose counts nobody would ever read).
    enum class MatchCounting { savedAfterEachClean, keptInMemory, off };
    void setMatchCounting(MatchCounting counting) { matchCounting_ = counting; }

    // How much of a cleaned result is filled in: everything (the default), or only the cleaned link,
    // the original and the categories, for a caller that prints nothing else. Building the rule
    // identifiers, removed names and operations is then skipped, which is most of the cost of a
    // link with trackers.
    enum class ResultDetail { full, cleanedURLOnly };
    void setResultDetail(ResultDetail detail) { detail_ = detail; }

    // The main entry. A cleaned outcome has already saved the match counts (see MatchCounting); the
    // caller keeps the original for undo.
    [[nodiscard]] CleanOutcome cleanWithOutcome(std::string_view urlString);
    // The result of a cleaned outcome, otherwise nothing.
    [[nodiscard]] std::optional<CleanResult> clean(std::string_view urlString);
    // Accounts for a share link the user had resolved over the network: cleans the resolved link (with
    // every effect of cleanWithOutcome) and puts the resolution first in the operations.
    [[nodiscard]] CleanResult resultAfterNetworkResolution(std::string_view originalURL, std::string_view resolvedURL,
                                                           std::string_view contactedHost);

    // The pipeline itself on an already trimmed web link, without the site exception check or the
    // saving of counts. Nothing when the link needs no change (or its text cannot be
    // parsed after the path rules). `depth` counts enclosing wrappers.
    [[nodiscard]] std::optional<CleanResult> performClean(std::string_view trimmed, int depth = 0);

    // redditJSChallengeParams when the link is on the Reddit domain and carries a sign of the
    // challenge (js_challenge=1, both solution and token, or jsc_orig_r); otherwise nothing.
    [[nodiscard]] static std::span<const std::string_view> redditJSChallengeParamsToStrip(
        const URLComponents& components);
    // A results page of the search service on its primary domain (any subdomain, no country domains):
    // path "/search" and a "q" parameter.
    [[nodiscard]] static bool isGoogleSearchURL(const URLComponents& components);
    // A search results link whose non-empty fragment holds local-result state.
    [[nodiscard]] static bool shouldClearGoogleSearchLocalFragment(const URLComponents& components);

private:
    // `parsed`, when given, is the parse of `trimmed`; it may be changed.
    std::optional<CleanResult> performClean(std::string_view trimmed, int depth, URLComponents* parsed);
    // The same questions with the lower-case host already known.
    [[nodiscard]] static std::span<const std::string_view> redditJSChallengeParamsToStrip(
        const URLComponents& components, std::optional<std::string_view> lowerHost);
    [[nodiscard]] static bool isGoogleSearchURL(const URLComponents& components,
                                                std::optional<std::string_view> lowerHost);
    std::optional<CleanResult> unwrapRedirect(LinkScan& scan, int depth,
                                              std::span<const CompiledProvider* const> providers);

    RulesEngine& rulesEngine_;
    const CustomBlocklistStore* customBlocklist_ = nullptr;
    DomainExceptionStore* exceptionStore_;
    PrivacyRedirectSettings privacyRedirectSettings_;
    PrivacyRedirector privacyRedirector_;
    // Adds the identifier makeID() gives to `ids` and counts one match of the rule, unless neither
    // the result nor the counts would keep it.
    template <typename MakeID>
    void noteMatch(std::vector<std::string>& ids, MakeID makeID, RuleCategoryType category);

    MatchCounting matchCounting_ = MatchCounting::savedAfterEachClean;
    ResultDetail detail_ = ResultDetail::full;
    // Scratch space reused from one link to the next.
    std::array<std::vector<const CompiledProvider*>, maximumRedirectDepth + 1> providerLists_;
    std::array<LinkScan, maximumRedirectDepth + 1> scans_;
    ProviderSet parameterProviders_;
    std::string lowerHost_;
    URLComponents input_;
};

}  // namespace tessaril
