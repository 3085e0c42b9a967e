// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CompiledProvider.h"
#include "core/cleaning/FallbackRule.h"
#include "core/cleaning/RuleCategory.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/matching/FragmentIndex.h"
#include "core/cleaning/matching/HostIndex.h"
#include "core/cleaning/matching/NameAnswers.h"
#include "core/cleaning/matching/NameRuleIndex.h"
#include "core/cleaning/matching/SiteTailPattern.h"
#include "core/foundation/KnownPrefilters.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaril {

class LinkMatch;

// The loaded rules turned into what answers the cleaner's questions fast: an index of the URL
// patterns that name one site by their host, a fragment index over every other pattern that is
// searched within a link (URL patterns, exceptions, redirections, path rules), an index of
// parameter-name rules, and the answers it has worked out for names so far.
//
// It is built from the engine's providers, its built-in and custom rules and its category tree,
// and reads the switches of that tree live. Whenever the engine changes any of the three, it drops
// its matcher and builds a new one for the next question: that is the only way anything here is
// brought up to date. Questions about one link go through a LinkMatch.
class RuleMatcher {
public:
    // The three must stay unchanged, and alive, for as long as the matcher is used. `prefilters`
    // gives the filter of each pattern the indexes read (only while the matcher is made).
    RuleMatcher(std::span<const CompiledProvider> providers, std::span<const FallbackRule> fallbackRules,
                std::span<const std::shared_ptr<RuleCategory>> categories, const KnownPrefilters& prefilters = {});
    RuleMatcher(const RuleMatcher&) = delete;
    RuleMatcher& operator=(const RuleMatcher&) = delete;

    // Makes `link` describe `text`, which must outlive the link's use, and finds its providers.
    void match(std::string_view text, LinkMatch& link) const;

    // Reads the switches of `categories` from now on, for a matcher made before the engine built its
    // tree (until then every switch reads as on). Made for that one step: nothing else changes, and
    // links being matched see the tree's switches at their next question.
    void attach(std::span<const std::shared_ptr<RuleCategory>> categories);

    [[nodiscard]] std::span<const CompiledProvider> providers() const { return providers_; }
    [[nodiscard]] bool isCategoryEnabled(RuleCategoryType type) const {
        const RuleCategory* category = categories_[static_cast<std::size_t>(type)];
        return category == nullptr || category->isEnabled();
    }

private:
    friend class LinkMatch;

    // Per provider, its filters and filter groups in the fragment index (the exceptions, the
    // redirections, the path rules) and the rule entries whose switches its parameter rules answer to.
    // The URL filter of a provider the host index answers for.
    static constexpr std::uint32_t kHostKeyed = UINT32_MAX;
    // ".*" matches every text; "^https?:\/\/" every text that starts with "http://" or "https://".
    // A text that is not so plainly matched is left to the expression.
    static constexpr std::uint32_t kNoSiteTail = UINT32_MAX;
    enum class UrlShape : std::uint8_t { general, anyText, webScheme };
    [[nodiscard]] static UrlShape urlShapeOf(std::string_view pattern);
    [[nodiscard]] static bool plainlyMatches(UrlShape shape, std::string_view text);
    struct ProviderIndex {
        std::uint32_t urlFilter = 0;
        // Providers with the same URL pattern text share one answer per link (those the host index
        // answers for need none).
        std::uint32_t urlPattern = 0;
        // Patterns every web link matches, answered without their expression where that is certain.
        UrlShape urlShape = UrlShape::general;
        // Its pattern as a SiteTailPattern (index into siteTails_), or kNoSiteTail.
        std::uint32_t siteTail = kNoSiteTail;
        // Neighbours in load order with the same URL pattern (many providers apply to every web link)
        // are one run: only its first provider is in the fragment index, and it answers for the run,
        // which ends before provider runEnd. Zero for the rest of a run and for host-keyed providers.
        std::uint32_t runEnd = 0;
        // The categories of a run's providers, each once: when all are on, the run is taken whole.
        std::vector<RuleCategoryType> runCategories;
        // What the first parameter question of a link needs to know of the provider.
        bool hasParamRules = false;
        bool hasExceptions = false;
        // For a run's first provider: the members with parameter rules and no exceptions, as
        // (word, bits) of the provider bit set, and those with both, which a link may except.
        std::vector<std::pair<std::uint32_t, std::uint64_t>> runParamWords;
        std::vector<std::uint32_t> runMembersWithExceptions;
        // All exceptions of those members in one filter group, and the members as words of bits: a link
        // for which that group is not live is excepted by none of them.
        std::uint32_t runExceptionGroup = 0;
        std::vector<std::pair<std::uint32_t, std::uint64_t>> runExceptionWords;
        std::vector<std::uint32_t> exceptionFilters;
        // Its "redirections", then its "encodedRedirections".
        std::vector<std::uint32_t> redirectionFilters;
        std::vector<std::uint32_t> rawRuleFilters;
        std::uint32_t exceptionGroup = 0;
        std::uint32_t redirectionGroup = 0;
        std::uint32_t rawRuleGroup = 0;
        // Its "rules", then its "referralMarketing" (the numbering of the name index); null where the
        // tree lists no entry.
        std::vector<const RuleEntry*> ruleEntries;
    };

    // The providers' parameter rules and the built-in and custom rules that match a name, each in
    // rule order; the switches are read when a rule is about to be used. Parameter rules of provider
    // i are list i of the name index (its "rules", then its "referralMarketing").
    struct NameRules {
        NameRuleIndex::Hits providerRules;
        std::vector<std::uint32_t> fallbackRules;
    };
    static constexpr std::size_t kKeptNameAnswers = 4096;

    void buildFragmentIndex(const KnownPrefilters& prefilters);
    // Whether provider `number`'s URL pattern, which the host index does not answer for, occurs in `text`.
    [[nodiscard]] bool urlPatternMatches(std::uint32_t number, std::string_view text,
                                         SiteTailPattern::Starts& starts) const;
    void buildNameIndexes(const KnownPrefilters& prefilters);
    void buildKeptNames();
    // Null for a name the indexes cannot answer for (bytes outside printable ASCII).
    [[nodiscard]] const NameRules* nameRules(std::string_view name) const;
    void computeNameRules(std::string_view name, const std::string& lowerName, NameRules& rules) const;
    [[nodiscard]] std::size_t providerNumber(const CompiledProvider& provider) const {
        return static_cast<std::size_t>(&provider - providers_.data());
    }
    [[nodiscard]] bool paramRuleEnabled(std::size_t provider, std::size_t rule) const;
    // Whether a provider's parameter rules are left out of the answers kept per name and asked of
    // the name directly, for the links the provider matches.
    [[nodiscard]] bool isAskedPerLink(std::size_t provider) const {
        return provider / 64 < askedPerLink_.size() && ((askedPerLink_[provider / 64] >> (provider % 64)) & 1U) != 0;
    }
    [[nodiscard]] bool fallbackRuleEnabled(std::size_t rule) const;

    std::span<const CompiledProvider> providers_;
    std::span<const FallbackRule> fallbackRules_;
    // The first category of each type, the one every switch is read from.
    std::array<const RuleCategory*, kAllRuleCategoryTypes.size()> categories_{};
    std::vector<const RuleEntry*> fallbackEntries_;

    FragmentIndex fragmentIndex_;
    HostIndex hosts_;
    std::vector<ProviderIndex> index_;
    // &providers_[i] at i: a run of providers is copied into a link's list in one go.
    std::vector<const CompiledProvider*> providerAddresses_;
    std::size_t urlPatternCount_ = 0;
    std::vector<SiteTailPattern> siteTails_;
    // The fragment index's group numbers [first, second) of all redirections, of all path rules.
    std::pair<std::uint32_t, std::uint32_t> redirectionGroups_;
    std::pair<std::uint32_t, std::uint32_t> rawRuleGroups_;

    // The providers that keep parameters a site needs ("keptParameters"), in file order, and all
    // their kept-name patterns in one expression that a name must match before any of them is asked.
    std::vector<const CompiledProvider*> keepingProviders_;
    std::optional<Regex> keptNames_;

    NameRuleIndex providerNames_;
    NameRuleIndex fallbackNames_;
    // Providers asked per link (site-bound ones with rules the name index cannot answer by lookup
    // alone): one bit each. The expression rules of the other providers are indexed by fragment.
    std::vector<std::uint64_t> askedPerLink_;
    // Names repeat from link to link, so their answers are kept.
    mutable NameAnswers<NameRules> nameRules_{kKeptNameAnswers};
    mutable std::string lowerName_;
    mutable std::vector<std::uint32_t> literalHits_;
    mutable std::vector<std::uint32_t> regexCandidates_;
    mutable NameRuleIndex::Hits expressionHits_;
};

}  // namespace tessaril
