// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <re2/filtered_re2.h>
#include <re2/re2.h>
#include <re2/set.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/cleaning/CompiledProvider.h"
#include "core/cleaning/WrapperEncoding.h"
#include "core/cleaning/matching/FragmentIndex.h"

namespace tessaril::bench {

// The link patterns of the engine's providers (URL patterns, exceptions, redirections, path rules)
// on RE2, every one case-insensitive: the questions the cleaner asks of a link, answered the way a
// matcher built on RE2 would, in one of two designs:
// - filtered: RE2 alone; every pattern in one FilteredRE2, one pass of a case-insensitive RE2::Set
//   over the link finds the literal atoms of all of them, and a pattern runs only when its atoms are
//   there;
// - fragments: the engine's own fragment index decides which patterns run, RE2 runs them: only the
//   automata swapped.
// A pattern RE2 rejects never matches here (rejected() lists them), so the answers then differ.
// Providers are numbered as the engine numbers them.
class Re2LinkRules {
public:
    enum class Design { filtered, fragments };
    Re2LinkRules(std::span<const CompiledProvider> providers, Design design);

    // What the rules say about one text; reused from link to link so that a link allocates little.
    struct Scan {
        std::string_view text;
        std::vector<std::uint32_t> providers;
        // Per provider: 0 not yet asked, 1 not an exception, 2 an exception.
        std::vector<std::uint8_t> exceptionAnswers;
        std::vector<int> atoms;
        std::vector<int> potentials;
        std::vector<std::uint32_t> candidateStamp;
        std::uint32_t stamp = 0;
        LinkScan fragments;
    };
    // Makes `scan` describe `text` and finds the providers whose URL pattern occurs in it, in order.
    void match(std::string_view text, Scan& scan) const;
    // Makes `scan` describe a rewrite of its text; the providers stay.
    void rescan(std::string_view text, Scan& scan) const;

    [[nodiscard]] bool isException(Scan& scan, std::uint32_t provider) const;
    // The http(s) target the provider's redirections find, as the engine decodes it.
    [[nodiscard]] std::optional<std::string> redirectTarget(const Scan& scan, std::uint32_t provider) const;
    // The text with every match of the provider's path rules cut out, or nothing when that changes nothing.
    [[nodiscard]] std::optional<std::string> cutPathRules(const Scan& scan, std::uint32_t provider) const;

    [[nodiscard]] bool hasRedirections(std::uint32_t provider) const {
        return !providers_[provider].redirections.empty() || !providers_[provider].encodedRedirections.empty();
    }
    [[nodiscard]] bool hasPathRules(std::uint32_t provider) const { return !providers_[provider].pathRules.empty(); }
    [[nodiscard]] bool hasParameterRules(std::uint32_t provider) const {
        return providers_[provider].hasParameterRules;
    }
    // The patterns RE2 rejected, each with its error.
    [[nodiscard]] const std::vector<std::pair<std::string, std::string>>& rejected() const { return rejected_; }

private:
    struct ProviderPatterns {
        std::vector<std::uint32_t> exceptions;
        std::vector<std::uint32_t> redirections;
        // "encodedRedirections", tried after the plain ones: each pattern and how its capture is decoded.
        std::vector<std::pair<std::uint32_t, WrapperEncoding>> encodedRedirections;
        std::vector<std::uint32_t> pathRules;
        bool hasParameterRules = false;
    };
    // One distinct pattern text: RE2's compiled form (the FilteredRE2 owns it in that design), its
    // filter in the fragment index, and the providers whose URL pattern it is, in order.
    struct Pattern {
        const RE2* regex = nullptr;
        std::unique_ptr<RE2> own;
        std::uint32_t filter = 0;
        std::vector<std::uint32_t> urlProviders;
    };
    [[nodiscard]] std::uint32_t add(std::string_view pattern);
    void build();
    [[nodiscard]] bool candidate(const Scan& scan, std::uint32_t pattern) const;
    // The first group of a pattern that has one and matches the scanned text.
    [[nodiscard]] std::optional<std::string_view> captured(const Scan& scan, std::uint32_t pattern) const;
    [[nodiscard]] bool search(std::string_view text, std::uint32_t pattern) const;

    Design design_;
    std::vector<ProviderPatterns> providers_;
    std::vector<Pattern> patterns_;
    std::unordered_map<std::string, std::uint32_t> numbers_;
    std::vector<std::pair<std::string, std::string>> rejected_;
    // Atoms of 2 or 3 bytes give the least work on the shipped rules, 1 or 4 to 6 more.
    static constexpr int kMinAtomLen = 3;
    re2::FilteredRE2 filter_{kMinAtomLen};
    std::unique_ptr<RE2::Set> atoms_;
    std::vector<std::uint32_t> filteredToPattern_;
    // Group i is the i-th distinct URL pattern.
    FragmentIndex fragmentIndex_;
    std::vector<std::uint32_t> urlPatterns_;
};

}  // namespace tessaril::bench
