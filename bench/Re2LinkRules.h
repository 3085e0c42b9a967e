// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <re2/filtered_re2.h>
#include <re2/re2.h>
#include <re2/set.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bench/Re2PatternSet.h"
#include "core/cleaning/Provider.h"
#include "core/foundation/Regex.h"

namespace tessaril::bench {

// The link patterns of a rule set (URL patterns, exceptions, redirections, path rules) on RE2, to
// measure against the engine's own automata: the questions the cleaner asks of a link, answered the
// way an engine built on RE2 would, in one of two designs:
// - filtered: every pattern goes into one FilteredRE2; one pass of a case-insensitive RE2::Set over
//   the link finds the literal atoms of all of them, and a pattern runs only when its atoms are there;
// - sets: the URL patterns form one Re2PatternSet, whose pass over the link says which match; the
//   exceptions of all providers form another, run once on a link that needs one; a provider's
//   redirections and path rules run whenever it matches.
// Patterns RE2 rejects run on ICU for every link. Providers are numbered in the order given, which is
// the engine's when every URL pattern compiles.
class Re2LinkRules {
public:
    enum class Design { filtered, sets };
    Re2LinkRules(const std::vector<std::pair<std::string, Provider>>& providers, Design design, int minAtomLen = 0);

    // What one link's pass found; reused from link to link so that a link allocates little.
    struct Scan {
        std::string_view text;
        std::vector<int> atoms;
        std::vector<int> potentials;
        std::vector<std::uint32_t> urlMatches;
        std::vector<std::uint32_t> exceptionMatches;
        std::vector<std::uint32_t> exceptionStamp;
        bool exceptionsFound = false;
        std::vector<int> setScratch;
        std::vector<std::uint32_t> candidateStamp;
        std::uint32_t stamp = 0;
    };
    void scan(std::string_view text, Scan& scan) const;

    // The providers whose URL pattern occurs in the link, in provider order.
    void matchingProviders(Scan& scan, std::vector<std::uint32_t>& out) const;
    [[nodiscard]] bool isException(Scan& scan, std::uint32_t provider) const;
    // The http(s) target of a redirect wrapper, percent-decoded when that succeeds.
    [[nodiscard]] std::optional<std::string> redirection(Scan& scan, std::uint32_t provider) const;
    // The link with every match of the provider's path rules cut out, or nothing when none matched.
    [[nodiscard]] std::optional<std::string> cutPathRules(Scan& scan, std::uint32_t provider) const;

    [[nodiscard]] bool hasExceptions(std::uint32_t provider) const { return !providers_[provider].exceptions.empty(); }
    [[nodiscard]] bool hasRedirections(std::uint32_t provider) const {
        return !providers_[provider].redirections.empty();
    }
    [[nodiscard]] bool hasPathRules(std::uint32_t provider) const { return !providers_[provider].pathRules.empty(); }
    [[nodiscard]] std::size_t providerCount() const { return providers_.size(); }
    // The patterns RE2 rejected, each with its error; they run on ICU.
    [[nodiscard]] const std::vector<std::pair<std::string, std::string>>& rejected() const { return rejected_; }
    // The filtered design's atoms, and its patterns that run for every link (those without an atom
    // and the ICU fallbacks).
    [[nodiscard]] std::size_t atomCount() const { return atomCount_; }
    [[nodiscard]] std::size_t unfilteredCount() const;

private:
    // One distinct pattern text: RE2's compiled form (the FilteredRE2 keeps it in that design), or
    // the ICU fallback.
    struct Pattern {
        int filtered = -1;
        std::unique_ptr<RE2> own;
        std::unique_ptr<Regex> fallback;
    };
    struct ProviderPatterns {
        std::uint32_t url = 0;
        std::vector<std::uint32_t> exceptions;
        std::vector<std::uint32_t> redirections;
        std::vector<std::uint32_t> pathRules;
    };
    [[nodiscard]] std::uint32_t add(const std::string& pattern);
    void buildAtoms();
    void buildSets();
    [[nodiscard]] const RE2* re2(std::uint32_t pattern) const;
    [[nodiscard]] bool candidate(const Scan& scan, std::uint32_t pattern) const;
    [[nodiscard]] bool search(std::string_view text, std::uint32_t pattern) const;

    Design design_;
    re2::FilteredRE2 filter_;
    std::unique_ptr<RE2::Set> atoms_;
    std::size_t atomCount_ = 0;
    Re2PatternSet urlSet_;
    Re2PatternSet exceptionSet_;
    std::vector<Pattern> patterns_;
    std::unordered_map<std::string, std::uint32_t> patternNumbers_;
    std::vector<std::uint32_t> filteredToPattern_;
    // The ICU fallbacks, searched for every link.
    std::vector<std::uint32_t> fallbacks_;
    std::vector<ProviderPatterns> providers_;
    // Per pattern, the providers whose URL pattern it is, in order (empty for the other patterns).
    std::vector<std::vector<std::uint32_t>> urlProviders_;
    std::vector<std::pair<std::string, std::string>> rejected_;
};

}  // namespace tessaril::bench
