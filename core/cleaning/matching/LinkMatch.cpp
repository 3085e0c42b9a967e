// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/matching/LinkMatch.h"

#include "core/cleaning/RedirectTarget.h"
#include "core/cleaning/WrapperDecoding.h"
#include "core/cleaning/matching/RuleMatcher.h"
#include "core/foundation/URLComponents.h"

#include <algorithm>
#include <functional>

namespace tessaril {

namespace {

// Rule `rule` of a provider in the name index's numbering: its "rules", then its "referralMarketing".
ParameterRule providerRule(const CompiledProvider& provider, std::size_t rule) {
    const std::size_t paramCount = provider.paramRegexes.size();
    const bool isReferral = rule >= paramCount;
    const CompiledPattern& pattern =
        isReferral ? provider.referralParamRegexes[rule - paramCount] : provider.paramRegexes[rule];
    return ParameterRule{&provider, &pattern, isReferral, nullptr};
}

}  // namespace

std::string ParameterRule::id() const {
    if (fallback != nullptr) return fallback->ruleID;
    const std::string_view listedUnder =
        rawValue(isReferral ? RuleCategoryType::referralMarketing : provider->category);
    std::string id;
    id.reserve(listedUnder.size() + 1 + rule->pattern.size());
    id += listedUnder;
    id += ':';
    id += rule->pattern;
    return id;
}

void LinkMatch::setText(std::string_view text) {
    text_ = text;
    matcher_->fragmentIndex_.scan(text_, scan_);
    exceptionAnswers_.assign(matcher_->providers_.size(), 0);
    keepingAnswers_.assign(matcher_->keepingProviders_.size(), 0);
}

bool LinkMatch::keeps(std::string_view name) {
    if (!matcher_->keptNames_ || !matcher_->keptNames_->search(name)) return false;
    const auto& keeping = matcher_->keepingProviders_;
    for (std::size_t i = 0; i < keeping.size(); ++i) {
        const auto& kept = keeping[i]->keptParamRegexes;
        if (std::none_of(kept.begin(), kept.end(), [&](const CompiledPattern& p) { return p.regex.search(name); }))
            continue;
        if (keepingAnswers_[i] == 0)
            keepingAnswers_[i] = keeping[i]->urlRegex.search(text_) && !isException(*keeping[i]) ? 2 : 1;
        if (keepingAnswers_[i] == 2) return true;
    }
    return false;
}

bool LinkMatch::isException(const CompiledProvider& provider) {
    if (provider.exceptionRegexes.empty()) return false;
    const std::size_t number = matcher_->providerNumber(provider);
    const RuleMatcher::ProviderIndex& index = matcher_->index_[number];
    if (!FragmentIndex::live(index.exceptionGroup, scan_)) return false;
    std::uint8_t& answer = exceptionAnswers_[number];
    if (answer == 0) {
        bool found = false;
        for (std::size_t i = 0; i < provider.exceptionRegexes.size() && !found; ++i) {
            found = matcher_->fragmentIndex_.passes(index.exceptionFilters[i], scan_) &&
                    provider.exceptionRegexes[i].search(text_);
        }
        answer = found ? 2 : 1;
    }
    return answer == 2;
}

std::optional<std::string> LinkMatch::redirectTarget(const CompiledProvider& provider) {
    // Individual redirect rules have switches in the tree, but only the category switch counts here.
    if (!matcher_->isCategoryEnabled(RuleCategoryType::redirectUnwrapping)) return std::nullopt;
    const RuleMatcher::ProviderIndex& index = matcher_->index_[matcher_->providerNumber(provider)];
    if (!FragmentIndex::live(index.redirectionGroup, scan_)) return std::nullopt;
    // What the expression's first group captures, when its filter passes and it matches at all.
    const auto captured = [this](const Regex& regex, std::uint32_t filter) -> std::optional<std::string_view> {
        if (regex.captureGroupCount() == 0 || !matcher_->fragmentIndex_.passes(filter, scan_)) return std::nullopt;
        // Whether it matches at all is answered by the DFA, cheaper still than finding the capture.
        if (!regex.search(text_)) return std::nullopt;
        auto match = regex.firstMatch(text_);
        if (!match || match->groups.empty() || !match->groups[0]) return std::nullopt;
        const TextRange range = *match->groups[0];
        if (range.begin > range.end || range.end > text_.size()) return std::nullopt;
        return text_.substr(range.begin, range.end - range.begin);
    };
    const std::size_t plainCount = provider.redirectionRegexes.size();
    for (std::size_t i = 0; i < plainCount; ++i) {
        if (auto text = captured(provider.redirectionRegexes[i].regex, index.redirectionFilters[i])) {
            if (auto target = tessaril::redirectTarget(*text)) return target;
        }
    }
    for (std::size_t i = 0; i < provider.encodedRedirectionRegexes.size(); ++i) {
        const CompiledEncodedRedirection& rule = provider.encodedRedirectionRegexes[i];
        if (auto text = captured(rule.regex, index.redirectionFilters[plainCount + i])) {
            if (auto target = decodeWrappedTarget(rule.encoding, *text)) return target;
        }
    }
    return std::nullopt;
}

std::optional<LinkMatch::Redirect> LinkMatch::redirect() {
    if (!matcher_->isCategoryEnabled(RuleCategoryType::redirectUnwrapping)) return std::nullopt;
    for (std::size_t at = nextProviderWithLiveGroup(0, false); at < providers_.size();
         at = nextProviderWithLiveGroup(at + 1, false)) {
        const CompiledProvider* provider = providers_[at];
        if (isException(*provider)) continue;
        if (auto target = redirectTarget(*provider)) return Redirect{provider, std::move(*target)};
    }
    return std::nullopt;
}

bool LinkMatch::rawRulesMayApply(const CompiledProvider& provider) {
    const RuleMatcher::ProviderIndex& index = matcher_->index_[matcher_->providerNumber(provider)];
    if (!FragmentIndex::live(index.rawRuleGroup, scan_)) return false;
    return std::any_of(index.rawRuleFilters.begin(), index.rawRuleFilters.end(),
                       [&](std::uint32_t filter) { return matcher_->fragmentIndex_.passes(filter, scan_); });
}

std::string LinkMatch::applyRawRules(const CompiledProvider& provider) {
    const RuleMatcher::ProviderIndex& index = matcher_->index_[matcher_->providerNumber(provider)];
    std::string result(text_);
    const LinkScan* scan = &scan_;
    for (std::size_t i = 0; i < provider.rawRuleRegexes.size(); ++i) {
        const Regex& regex = provider.rawRuleRegexes[i].regex;
        if (!matcher_->fragmentIndex_.passes(index.rawRuleFilters[i], *scan) || !regex.search(result)) continue;
        result = regex.replaceAll(result, "");
        // Each cut changes the text the next rule is filtered on.
        matcher_->fragmentIndex_.scan(result, scratchScan_);
        scan = &scratchScan_;
    }
    return result;
}

const CompiledProvider* LinkMatch::nextPathRewrite() {
    // Most links meet no path rule at all. The link is scanned again after each rewrite, so the next
    // provider is looked for in the rewritten text.
    for (std::size_t at = nextProviderWithLiveGroup(pathFrom_, true); at < providers_.size();
         at = nextProviderWithLiveGroup(at + 1, true)) {
        const CompiledProvider* provider = providers_[at];
        if (isException(*provider)) continue;
        std::string rewritten = applyRawRules(*provider);
        if (rewritten == text_) continue;
        textBeforeRewrite_.assign(text_);
        rewritten_ = std::move(rewritten);
        setText(rewritten_);
        pathFrom_ = at + 1;
        return provider;
    }
    pathFrom_ = providers_.size();
    return nullptr;
}

void LinkMatch::matchRewritten() {
    // The text stays in rewritten_ (or the caller's buffer), which matching does not touch.
    matcher_->match(text_, *this);
}

std::size_t LinkMatch::nextProviderWithLiveGroup(std::size_t from, bool pathRules) {
    const auto groups = pathRules ? matcher_->rawRuleGroups_ : matcher_->redirectionGroups_;
    std::size_t next = providers_.size();
    if (from >= providers_.size()) return next;
    const CompiledProvider* first = matcher_->providers_.data();
    // The list is in load order, like the groups: the first live group of one of its providers from
    // `from` on is the answer, and each group is looked for after the place of the one before.
    auto searchFrom = providers_.begin() + static_cast<std::ptrdiff_t>(from);
    // Only the groups of the providers from `from` to the last can answer.
    const auto groupOf = [&](const CompiledProvider* provider) {
        return groups.first + static_cast<std::uint32_t>(matcher_->providerNumber(*provider));
    };
    (void)FragmentIndex::firstLive(
        groupOf(*searchFrom), groupOf(providers_.back()) + 1, scan_, [&](std::uint32_t group) {
            const CompiledProvider* provider = first + (group - groups.first);
            searchFrom = std::lower_bound(searchFrom, providers_.end(), provider, std::less<>());
            if (searchFrom == providers_.end()) return true;
            if (*searchFrom != provider || (pathRules && !rawRulesMayApply(*provider))) return false;
            next = static_cast<std::size_t>(searchFrom - providers_.begin());
            return true;
        });
    return next;
}

void LinkMatch::findParameterProviders() {
    parameterProvidersFound_ = true;
    askedPerLinkProviders_.clear();
    parameterMembers_.assign((matcher_->providers_.size() + 63) / 64, 0);
    // Every web link meets the runs of providers that apply to all links; each is taken at once.
    for (std::size_t at = 0; at < providers_.size(); ++at) {
        const CompiledProvider* provider = providers_[at];
        const std::size_t number = matcher_->providerNumber(*provider);
        const RuleMatcher::ProviderIndex& index = matcher_->index_[number];
        const std::size_t runLength = index.runEnd - std::min<std::size_t>(number, index.runEnd);
        if (runLength > 1 && at + runLength <= providers_.size() &&
            providers_[at + runLength - 1] == &matcher_->providers_[index.runEnd - 1]) {
            // The whole run is here (it holds no site-bound provider): its members are known.
            for (const auto& [word, bits] : index.runParamWords)
                parameterMembers_[word] |= bits;
            if (!FragmentIndex::live(index.runExceptionGroup, scan_)) {
                for (const auto& [word, bits] : index.runExceptionWords)
                    parameterMembers_[word] |= bits;
            } else {
                for (const std::uint32_t member : index.runMembersWithExceptions) {
                    if (!isException(matcher_->providers_[member]))
                        parameterMembers_[member / 64] |= std::uint64_t{1} << (member % 64);
                }
            }
            at += runLength - 1;
            continue;
        }
        if (!index.hasParamRules || (index.hasExceptions && isException(*provider))) continue;
        if (matcher_->isAskedPerLink(number)) askedPerLinkProviders_.push_back(provider);
        parameterMembers_[number / 64] |= std::uint64_t{1} << (number % 64);
    }
}

std::optional<ParameterRule> LinkMatch::strippingProviderRule(std::string_view name,
                                                              const CompiledProvider& provider) const {
    const std::size_t number = matcher_->providerNumber(provider);
    const RuleMatcher::NameRules* answers = matcher_->isAskedPerLink(number) ? nullptr : matcher_->nameRules(name);
    if (answers != nullptr) {
        for (const auto& hit : answers->providerRules) {
            if (hit.list == number && matcher_->paramRuleEnabled(number, hit.rule))
                return providerRule(provider, hit.rule);
        }
        return std::nullopt;
    }
    const std::size_t count = provider.paramRegexes.size() + provider.referralParamRegexes.size();
    for (std::size_t rule = 0; rule < count; ++rule) {
        ParameterRule candidate = providerRule(provider, rule);
        if (matcher_->paramRuleEnabled(number, rule) && candidate.rule->regex.search(name)) return candidate;
    }
    return std::nullopt;
}

const FallbackRule* LinkMatch::strippingFallbackRule(std::string_view name) const {
    const RuleMatcher::NameRules* answers = matcher_->nameRules(name);
    return strippingFallbackRule(name, answers == nullptr ? nullptr : &answers->fallbackRules);
}

const FallbackRule* LinkMatch::strippingFallbackRule(std::string_view name,
                                                     const std::vector<std::uint32_t>* answered) const {
    const auto& rules = matcher_->fallbackRules_;
    if (answered != nullptr) {
        for (const std::uint32_t number : *answered) {
            if (matcher_->fallbackRuleEnabled(number)) return &rules[number];
        }
        return nullptr;
    }
    for (std::size_t number = 0; number < rules.size(); ++number) {
        if (matcher_->fallbackRuleEnabled(number) && rules[number].regex.search(name)) return &rules[number];
    }
    return nullptr;
}

std::optional<ParameterRule> LinkMatch::strippingRule(std::string_view name) {
    auto rule = firstStrippingRule(name);
    if (rule && keeps(name)) return std::nullopt;
    return rule;
}

std::optional<ParameterRule> LinkMatch::firstStrippingRule(std::string_view name) {
    if (!parameterProvidersFound_) findParameterProviders();
    const RuleMatcher::NameRules* answers = matcher_->nameRules(name);
    if (answers != nullptr) {
        // The name's rules come in provider order, and so do the parameter providers: the first
        // enabled rule of one of them is the answer, unless a provider asked per link comes first.
        std::size_t found = matcher_->providers_.size();
        for (const auto& hit : answers->providerRules) {
            if (isParameterProvider(hit.list) && matcher_->paramRuleEnabled(hit.list, hit.rule)) {
                found = hit.list;
                break;
            }
        }
        for (const CompiledProvider* provider : askedPerLinkProviders_) {
            if (matcher_->providerNumber(*provider) >= found) break;
            if (auto rule = strippingProviderRule(name, *provider)) return rule;
        }
        if (found < matcher_->providers_.size()) {
            for (const auto& hit : answers->providerRules) {
                if (hit.list == found && matcher_->paramRuleEnabled(hit.list, hit.rule))
                    return providerRule(matcher_->providers_[hit.list], hit.rule);
            }
        }
    } else {
        for (const CompiledProvider* provider : providers_) {
            if (!isParameterProvider(matcher_->providerNumber(*provider))) continue;
            if (auto rule = strippingProviderRule(name, *provider)) return rule;
        }
    }
    if (const FallbackRule* rule = strippingFallbackRule(name, answers == nullptr ? nullptr : &answers->fallbackRules))
        return ParameterRule{nullptr, nullptr, false, rule};
    return std::nullopt;
}

LinkMatch::Explanation LinkMatch::explain() {
    std::vector<std::string> names;
    if (const auto components = URLComponents::parse(text_)) {
        // When an escape does not decode, the names are shown as written.
        auto items = components->queryItems();
        for (const auto& item : items ? *items : components->percentEncodedQueryItems())
            names.push_back(item.name);
    }
    Explanation explanation;
    for (const CompiledProvider* provider : providers_) {
        ProviderAccount& account = explanation.providers.emplace_back();
        account.provider = provider;
        account.excepted = isException(*provider);
        if (account.excepted) continue;
        account.redirectTarget = redirectTarget(*provider);
        account.pathRulesCut = applyRawRules(*provider) != text_;
        for (const auto& name : names) {
            if (auto rule = strippingProviderRule(name, *provider)) account.parameters.emplace_back(name, rule->id());
        }
    }
    for (const auto& name : names) {
        if (const FallbackRule* rule = strippingFallbackRule(name))
            explanation.builtInRules.emplace_back(name, rule->ruleID);
    }
    return explanation;
}

}  // namespace tessaril
