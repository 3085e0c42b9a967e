// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanOutcome.h"
#include "core/cleaning/CleanResult.h"
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/matching/LinkMatch.h"
#include "core/foundation/URLComponents.h"
#include "core/transform/PrivacyRedirectSettings.h"
#include "core/transform/PrivacyRedirector.h"

#include <array>
#include <optional>
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
    // Wrappers inside wrappers are unwrapped this many levels below the first; the target found at
    // the deepest level is returned as it is.
    static constexpr int maximumRedirectDepth = 5;
    // After the path rules cut a link, the rules are matched again on what is left, and its
    // providers' path rules may cut further: this many rounds at most, for texts made to cut anew
    // each time.
    static constexpr int maximumPathRounds = 4;

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
    // the original, the count of signals removed and the categories (all that the impact summary
    // reads), for a caller that prints nothing else. Building the rule identifiers, removed names and
    // operations is then skipped, which is most of the cost of a link with trackers.
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

private:
    // What the steps of one clean found, gathered for its result.
    struct Account;

    // The pipeline on an already trimmed web link, without the site exception check or the saving of
    // counts: nothing when the link needs no change (or its text cannot be parsed after the path
    // rules). `depth` counts enclosing wrappers; `parsed`, when given, is the parse of `trimmed`,
    // and may be changed.
    std::optional<CleanResult> performClean(std::string_view trimmed, int depth, URLComponents* parsed);
    // A wrapper is cleaned through its target; nothing else runs on the wrapper itself.
    std::optional<CleanResult> unwrapRedirect(LinkMatch& link, int depth);
    // Returns whether any provider's path rules changed the link (link.text() is then the result).
    bool applyPathRules(LinkMatch& link, Account& account);
    void removeParameters(URLComponents& components, LinkMatch& link, Account& account);
    void clearSearchFragment(URLComponents& components, Account& account);
    // The privacy rewrite, then the result; nothing when the link came out as it went in.
    std::optional<CleanResult> finish(std::string_view trimmed, const URLComponents& components, Account& account);
    // Adds the identifier makeID() gives to `ids` and counts one match of the rule, unless neither
    // the result nor the counts would keep it.
    template <typename MakeID>
    void noteMatch(std::vector<std::string>& ids, MakeID makeID, RuleCategoryType category);

    RulesEngine& rulesEngine_;
    const CustomBlocklistStore* customBlocklist_ = nullptr;
    DomainExceptionStore* exceptionStore_;
    PrivacyRedirectSettings privacyRedirectSettings_;
    PrivacyRedirector privacyRedirector_;
    MatchCounting matchCounting_ = MatchCounting::savedAfterEachClean;
    ResultDetail detail_ = ResultDetail::full;
    // Scratch space reused from one link to the next: one link match per wrapper level.
    std::array<LinkMatch, maximumRedirectDepth + 1> links_;
    std::string lowerHost_;
    URLComponents input_;
};

}  // namespace tessaril
