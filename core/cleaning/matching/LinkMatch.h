// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CompiledProvider.h"
#include "core/cleaning/FallbackRule.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/matching/HostIndex.h"
#include "core/cleaning/matching/LinkScan.h"
#include "core/cleaning/matching/SiteTailPattern.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaril {

class RuleMatcher;

// The rule that removes a query parameter: a provider's parameter or referral rule, or a built-in or
// custom one.
struct ParameterRule {
    const CompiledProvider* provider = nullptr;
    const CompiledPattern* rule = nullptr;
    bool isReferral = false;
    const FallbackRule* fallback = nullptr;

    // The category a match is counted under: a referral rule counts under its provider's own.
    [[nodiscard]] RuleCategoryType category() const {
        return fallback != nullptr ? fallback->category : provider->category;
    }
    // Its identifier in the rules list, such as "Referral Marketing:ref".
    [[nodiscard]] std::string id() const;
};

// What the rules say about one link, worked out as the cleaner asks, in the order it asks: the
// providers, a redirect wrapper's target, the path rules, then each parameter. Made by
// RuleMatcher::match and valid until the next match or until the matcher is dropped; reusing one
// object from link to link keeps its buffers, so a link does not allocate.
class LinkMatch {
public:
    LinkMatch() = default;
    LinkMatch(const LinkMatch&) = delete;
    LinkMatch& operator=(const LinkMatch&) = delete;
    LinkMatch(LinkMatch&&) = default;
    LinkMatch& operator=(LinkMatch&&) = default;

    // The link as it stands: the text matched, or what the path rules made of it.
    [[nodiscard]] std::string_view text() const { return text_; }
    // Providers whose category is on and whose URL pattern occurs in the link, in load order. A path
    // rewrite alone does not change them; matchRewritten does.
    [[nodiscard]] std::span<const CompiledProvider* const> providers() const { return providers_; }

    // The http(s) target hidden in a redirect wrapper: the first provider, in order, that does not
    // except the link and one of whose redirections (its plain ones, then its encoded ones) finds
    // one. Nothing while redirect unwrapping is off.
    struct Redirect {
        const CompiledProvider* provider = nullptr;
        std::string target;
    };
    [[nodiscard]] std::optional<Redirect> redirect();

    // Applies the path rules of the next provider, in order, that has some for the link as it stands,
    // does not except it, and changes it; returns that provider, or null when none is left. text()
    // then holds the rewritten link.
    [[nodiscard]] const CompiledProvider* nextPathRewrite();
    // The link as it was before the last rewrite nextPathRewrite made.
    [[nodiscard]] std::string_view textBeforeRewrite() const { return textBeforeRewrite_; }
    // Finds the providers again for the link as the path rules left it, which may be another
    // provider's, or one its own provider excepts; path rules then start over.
    void matchRewritten();

    // The enabled rule that removes the parameter named `name` (decoded): the parameter rules of the
    // providers that have some and do not except the link as it now stands, first provider first,
    // then the built-in and custom rules. None when a provider that matches the link and does not
    // except it keeps the name (its "keptParameters"), whatever its category switch says.
    [[nodiscard]] std::optional<ParameterRule> strippingRule(std::string_view name);

    // Everything the rules would do to the link, provider by provider, for a person to read.
    struct ProviderAccount {
        const CompiledProvider* provider = nullptr;
        bool excepted = false;
        std::optional<std::string> redirectTarget;
        bool pathRulesCut = false;
        // Each query parameter (decoded when it can be) and the identifier of the provider's rule that
        // removes it.
        std::vector<std::pair<std::string, std::string>> parameters;
    };
    struct Explanation {
        std::vector<ProviderAccount> providers;
        // Parameters and the identifier of the built-in or custom rule that removes each.
        std::vector<std::pair<std::string, std::string>> builtInRules;
    };
    // For the link as matched, before any path rewrite.
    [[nodiscard]] Explanation explain();

private:
    friend class RuleMatcher;

    void setText(std::string_view text);
    [[nodiscard]] bool isException(const CompiledProvider& provider);
    // The target one provider's redirections find, ignoring the other providers.
    [[nodiscard]] std::optional<std::string> redirectTarget(const CompiledProvider& provider);
    [[nodiscard]] bool rawRulesMayApply(const CompiledProvider& provider);
    // The link with every match of the provider's path rules cut out.
    [[nodiscard]] std::string applyRawRules(const CompiledProvider& provider);
    // The position in providers() of the first provider from `from` on whose redirections (or path
    // rules) may match, or the end: only providers whose filter groups are live are visited.
    [[nodiscard]] std::size_t nextProviderWithLiveGroup(std::size_t from, bool pathRules);
    [[nodiscard]] std::optional<ParameterRule> strippingProviderRule(std::string_view name,
                                                                     const CompiledProvider& provider) const;
    [[nodiscard]] const FallbackRule* strippingFallbackRule(std::string_view name) const;
    // The same, given the built-in and custom rules the matcher's answers for the name list (null
    // when it has no answers for it).
    [[nodiscard]] const FallbackRule* strippingFallbackRule(std::string_view name,
                                                            const std::vector<std::uint32_t>* answered) const;
    [[nodiscard]] std::optional<ParameterRule> firstStrippingRule(std::string_view name);
    // Whether a provider keeps the name on the link as it stands. The name is compared with every
    // kept name first, so links without one cost no more; a provider's URL pattern is matched only
    // for a name it lists, once per text.
    [[nodiscard]] bool keeps(std::string_view name);
    void findParameterProviders();
    [[nodiscard]] bool isParameterProvider(std::size_t number) const {
        return number / 64 < parameterMembers_.size() && ((parameterMembers_[number / 64] >> (number % 64)) & 1U) != 0;
    }

    const RuleMatcher* matcher_ = nullptr;
    std::string_view text_;
    // The text after a path rewrite; text_ views it then.
    std::string rewritten_;
    std::string textBeforeRewrite_;
    LinkScan scan_;
    // The providers the host index found for the link, and its buffer.
    std::vector<HostIndex::Hit> hostHits_;
    std::string hostText_;
    // For the texts between two path rules of one provider.
    LinkScan scratchScan_;
    std::vector<const CompiledProvider*> providers_;
    // Per provider: 0 not yet asked, 1 not an exception, 2 an exception (for the text as it stands).
    std::vector<std::uint8_t> exceptionAnswers_;
    // Per keeping provider: 0 not yet asked, 1 it does not apply, 2 it applies (to the text as it stands).
    std::vector<std::uint8_t> keepingAnswers_;
    // Per URL pattern: 0 not yet asked, 1 no match, 2 a match.
    std::vector<std::uint8_t> patternAnswers_;
    // Where the host labels of the text as matched begin.
    SiteTailPattern::Starts siteTailStarts_;
    // The next position in providers_ nextPathRewrite looks from.
    std::size_t pathFrom_ = 0;
    // The providers whose parameter rules apply (one bit each), found at the first parameter question.
    bool parameterProvidersFound_ = false;
    // Those of them whose rules are asked per link (RuleMatcher::isAskedPerLink), in order.
    std::vector<const CompiledProvider*> askedPerLinkProviders_;
    std::vector<std::uint64_t> parameterMembers_;
};

}  // namespace tessaril
