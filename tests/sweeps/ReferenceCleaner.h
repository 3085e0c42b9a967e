// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The cleaning pipeline written the plain way: every provider's URL pattern, every parameter
// expression and every built-in rule run in order, the blocklist read as a list, wrappers unwrapped
// in a loop, no indexes, no shared parse. The fast engine and cleaner must give exactly the same
// results.

#include "core/cleaning/CleanOutcome.h"
#include "core/cleaning/RedirectTarget.h"
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/SiteRules.h"
#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/WrapperDecoding.h"
#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"
#include "core/stores/CustomBlockRule.h"
#include "core/stores/DomainExceptionStore.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace tessaril::testing {

class ReferenceCleaner {
public:
    ReferenceCleaner(RulesEngine& engine, const DomainExceptionStore* exceptions,
                     std::vector<CustomBlockRule> blocklist)
        : engine_(engine), exceptions_(exceptions), blocklist_(std::move(blocklist)) {}

    CleanOutcome clean(std::string_view input) {
        const std::string_view trimmed = text::trim(input);
        if (!URLComponents::parse(trimmed) || !(trimmed.starts_with("http://") || trimmed.starts_with("https://")))
            return CleanOutcome::invalid();
        const auto host = exceptions_ != nullptr ? DomainExceptionStore::normalizedHost(trimmed) : std::nullopt;
        if (host && exceptions_->isDisabled(*host)) return CleanOutcome::skippedDisabled(*host);
        CleanResult result;
        result.originalURL = std::string(trimmed);
        std::string url(trimmed);
        // Up to one more wrapper than the depth limit is unwrapped; the last target is left as it is.
        std::int64_t unwraps = 0;
        for (std::optional<std::string> target;
             unwraps <= URLCleaner::maximumRedirectDepth && (target = unwrap(url, result)); ++unwraps)
            url = std::move(*target);
        CleanResult unwrapped = result;
        unwrapped.cleanedURL = url;
        unwrapped.paramsRemoved = unwraps;
        if (unwraps <= URLCleaner::maximumRedirectDepth && cleanUnwrapped(url, result)) {
            result.paramsRemoved += unwraps;
            return CleanOutcome::cleaned(std::move(result));
        }
        return unwraps == 0 ? CleanOutcome::unchanged() : CleanOutcome::cleaned(std::move(unwrapped));
    }

    std::vector<const CompiledProvider*> matchingProviders(std::string_view url) const {
        std::vector<const CompiledProvider*> matching;
        for (const auto& provider : engine_.compiledProviders()) {
            if (engine_.isCategoryEnabled(provider.category) && provider.urlRegex.search(url))
                matching.push_back(&provider);
        }
        return matching;
    }

    std::optional<std::string> shouldStripParam(std::string_view name, const CompiledProvider& provider) const {
        const std::string prefix = std::string(rawValue(provider.category)) + ":";
        for (const auto& rule : provider.paramRegexes) {
            if (rule.regex.search(name) && engine_.isRuleEnabled(prefix + rule.pattern, provider.category))
                return prefix + rule.pattern;
        }
        for (const auto& rule : provider.referralParamRegexes) {
            const std::string id = "Referral Marketing:" + rule.pattern;
            if (rule.regex.search(name) && engine_.isRuleEnabled(id, RuleCategoryType::referralMarketing)) return id;
        }
        return std::nullopt;
    }

    const FallbackRule* fallbackRule(std::string_view name) const {
        for (const auto& rule : engine_.fallbackRules()) {
            if (rule.regex.search(name) && engine_.isCategoryEnabled(rule.category) &&
                engine_.isRuleEnabled(rule.ruleID, rule.category))
                return &rule;
        }
        return nullptr;
    }

private:
    static bool isException(std::string_view url, const CompiledProvider& provider) {
        return std::any_of(provider.exceptionRegexes.begin(), provider.exceptionRegexes.end(),
                           [url](const Regex& regex) { return regex.search(url); });
    }

    // A provider that applies to the link keeps the name.
    bool keptBySite(std::string_view url, std::string_view name) const {
        for (const auto& provider : engine_.compiledProviders()) {
            if (provider.keptParamRegexes.empty() || !provider.urlRegex.search(url) || isException(url, provider))
                continue;
            for (const auto& kept : provider.keptParamRegexes) {
                if (kept.regex.search(name)) return true;
            }
        }
        return false;
    }

    static std::string decodedName(std::string_view encoded) {
        if (encoded.find('%') == std::string_view::npos) return std::string(encoded);
        return text::percentDecode(encoded).value_or(std::string(encoded));
    }

    bool blocks(std::string_view name, std::string_view host) const {
        const std::string lowered = text::toLower(host);
        return std::any_of(blocklist_.begin(), blocklist_.end(), [&](const CustomBlockRule& rule) {
            return rule.parameter == name && (!rule.site || *rule.site == lowered);
        });
    }

    void record(CleanResult& result, std::string id, RuleCategoryType category) {
        engine_.recordMatch(id, category);
        result.matchedRuleIDs.push_back(std::move(id));
        result.matchedCategories.insert(category);
    }

    // The target of the first wrapper the link is, recorded in `result`: every redirection
    // expression in order, then every encoded one, the first whose capture gives a web link winning.
    std::optional<std::string> unwrap(const std::string& url, CleanResult& result) {
        if (!engine_.isCategoryEnabled(RuleCategoryType::redirectUnwrapping)) return std::nullopt;
        for (const CompiledProvider* provider : matchingProviders(url)) {
            if (isException(url, *provider)) continue;
            auto target =
                firstTarget(url, provider->redirectionRegexes,
                            [](const CompiledPattern&, std::string_view text) { return redirectTarget(text); });
            if (!target) {
                target = firstTarget(url, provider->encodedRedirectionRegexes,
                                     [](const CompiledEncodedRedirection& rule, std::string_view text) {
                                         return decodeWrappedTarget(rule.encoding, text);
                                     });
            }
            if (!target) continue;
            for (const auto& each : provider->redirectionRegexes)
                record(result, "Redirect Unwrapping:" + each.pattern, RuleCategoryType::redirectUnwrapping);
            for (const auto& each : provider->encodedRedirectionRegexes)
                record(result, "Redirect Unwrapping:" + each.pattern, RuleCategoryType::redirectUnwrapping);
            result.operations.push_back({CleanOperationKind::offlineWrapperUnwrap,
                                         url,
                                         *target,
                                         {},
                                         false,
                                         {},
                                         "Rule-based redirect wrapper removal"});
            return target;
        }
        return std::nullopt;
    }

    template <typename Rules, typename Decode>
    static std::optional<std::string> firstTarget(const std::string& url, const Rules& rules, Decode decode) {
        for (const auto& rule : rules) {
            const auto match = rule.regex.firstMatch(url);
            if (!match || match->groups.empty() || !match->groups[0]) continue;
            const TextRange captured = *match->groups[0];
            if (auto target = decode(rule, std::string_view(url).substr(captured.begin, captured.end - captured.begin)))
                return target;
        }
        return std::nullopt;
    }

    // Path rules, parameters and the search page's fragment, recorded in `result`: false (and
    // `result` to be dropped) when the link comes out as it went in.
    bool cleanUnwrapped(const std::string& url, CleanResult& result) {
        auto providers = matchingProviders(url);
        std::string c = url;
        bool pathChanged = false;
        // The link each round of cuts leaves is matched again, and cut again, a few rounds at most.
        for (int round = 0; round < URLCleaner::maximumPathRounds; ++round) {
            bool cut = false;
            for (const CompiledProvider* provider : providers) {
                if (isException(c, *provider)) continue;
                std::string rewritten = c;
                for (const auto& rule : provider->rawRuleRegexes)
                    rewritten = rule.regex.replaceAll(rewritten, "");
                if (rewritten == c) continue;
                result.operations.push_back(
                    {CleanOperationKind::offlinePathRewrite, c, rewritten, {}, false, {}, "Rule-based path cleanup"});
                for (const auto& rule : provider->rawRuleRegexes)
                    record(result, std::string(rawValue(provider->category)) + ":" + rule.pattern, provider->category);
                c = std::move(rewritten);
                cut = true;
            }
            if (!cut) break;
            pathChanged = true;
            providers = matchingProviders(c);
        }

        auto components = URLComponents::parse(c);
        if (!components) return false;
        const auto encodedHost = components->percentEncodedHost();
        const std::string host = encodedHost ? decodedName(*encodedHost) : std::string();
        const auto siteHost = site_rules::lowerCaseHost(*components);
        const auto challenge = site_rules::redditJSChallengeParamsToStrip(*components, siteHost);
        const bool searchPage = site_rules::isGoogleSearchURL(*components, siteHost);
        std::vector<std::string> removed;
        auto decide = [&](const URLQueryItemView& item) {
            const std::string name = decodedName(item.name);
            const bool blocked = blocks(name, host);
            if (blocked) result.matchedRuleIDs.push_back("user:" + name);
            if (!blocked && encodedHost && text::toLower(host) == site_rules::youTubeMusicHost &&
                (text::asciiLower(name) == "si" || text::asciiLower(name) == "is"))
                return false;
            if (std::find(challenge.begin(), challenge.end(), name) != challenge.end() &&
                engine_.isCategoryEnabled(RuleCategoryType::socialMedia)) {
                record(result, "Social Media:reddit_js_challenge:" + name, RuleCategoryType::socialMedia);
            } else if (blocked) {
            } else if (searchPage && name == "client" && engine_.isCategoryEnabled(RuleCategoryType::analytics)) {
                record(result, "Analytics:google_search:" + name, RuleCategoryType::analytics);
            } else {
                if (keptBySite(c, name)) return false;
                std::optional<std::pair<std::string, RuleCategoryType>> rule;
                for (const CompiledProvider* provider : providers) {
                    auto id = isException(c, *provider) ? std::nullopt : shouldStripParam(name, *provider);
                    if (id && !rule) rule.emplace(*id, provider->category);
                }
                const FallbackRule* fallback = rule ? nullptr : fallbackRule(name);
                if (fallback != nullptr) rule.emplace(fallback->ruleID, fallback->category);
                if (!rule) return false;
                record(result, rule->first, rule->second);
            }
            removed.push_back(name);
            return true;
        };
        if (components->removeQueryItems(decide) > 0) {
            result.operations.push_back(
                {CleanOperationKind::localParameterRemoval, c, components->string(), removed, false, {}, {}});
        }
        bool fragmentCleared = false;
        if (site_rules::shouldClearGoogleSearchLocalFragment(*components) &&
            engine_.isCategoryEnabled(RuleCategoryType::analytics)) {
            const std::string before = components->string();
            components->setFragment(std::nullopt);
            record(result, "Analytics:google_search:local_fragment", RuleCategoryType::analytics);
            result.operations.push_back({CleanOperationKind::localParameterRemoval,
                                         before,
                                         components->string(),
                                         {"#google-local-state"},
                                         false,
                                         {},
                                         {}});
            fragmentCleared = true;
        }
        if (components->string() == url) return false;
        result.cleanedURL = components->string();
        const auto count = static_cast<std::int64_t>(removed.size());
        result.paramsRemoved = count + (fragmentCleared ? 1 : 0) + (pathChanged && count == 0 ? 1 : 0);
        result.removedQueryParameters = std::move(removed);
        return true;
    }

    RulesEngine& engine_;
    const DomainExceptionStore* exceptions_;
    std::vector<CustomBlockRule> blocklist_;
};

}  // namespace tessaril::testing
