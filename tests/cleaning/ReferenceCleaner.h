// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The cleaning pipeline written the plain way: every provider's URL pattern, every parameter
// expression and every built-in rule run in order, the blocklist read as a list, no indexes, no
// shared parse. The fast engine and cleaner must give exactly the same results.

#include "core/cleaning/CleanResult.h"
#include "core/cleaning/RedirectTarget.h"
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/SiteRules.h"
#include "core/cleaning/URLCleaner.h"
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

    // kind: "invalid", "skipped:" + host, "unchanged", or "cleaned" with the result.
    std::pair<std::string, std::optional<CleanResult>> clean(std::string_view input) {
        const std::string_view trimmed = text::trim(input);
        if (!URLComponents::parse(trimmed)) return {"invalid", std::nullopt};
        if (!trimmed.starts_with("http://") && !trimmed.starts_with("https://")) return {"invalid", std::nullopt};
        if (exceptions_ != nullptr) {
            if (auto host = DomainExceptionStore::normalizedHost(trimmed); host && exceptions_->isDisabled(*host))
                return {"skipped:" + *host, std::nullopt};
        }
        auto result = performClean(trimmed, 0);
        if (!result) return {"unchanged", std::nullopt};
        return {"cleaned", std::move(result)};
    }

    std::vector<const CompiledProvider*> matchingProviders(std::string_view url) const {
        std::vector<const CompiledProvider*> matching;
        for (const auto& provider : engine_.compiledProviders()) {
            if (engine_.isCategoryEnabled(provider.category) && provider.urlRegex.search(url))
                matching.push_back(&provider);
        }
        return matching;
    }

    bool isException(std::string_view url, const CompiledProvider& provider) const {
        return std::any_of(provider.exceptionRegexes.begin(), provider.exceptionRegexes.end(),
                           [url](const Regex& regex) { return regex.search(url); });
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

    // Every redirection expression in order; the first whose capture is a web link wins.
    static std::optional<std::string> redirectionTarget(std::string_view url, const CompiledProvider& provider) {
        for (const auto& rule : provider.redirectionRegexes) {
            auto match = rule.regex.firstMatch(url);
            if (!match || match->groups.empty() || !match->groups[0]) continue;
            const std::string_view raw =
                url.substr(match->groups[0]->begin, match->groups[0]->end - match->groups[0]->begin);
            if (auto target = redirectTarget(raw)) return target;
        }
        return std::nullopt;
    }

    static std::string withoutPathRules(std::string_view url, const CompiledProvider& provider) {
        std::string result(url);
        for (const auto& rule : provider.rawRuleRegexes)
            result = rule.regex.replaceAll(result, "");
        return result;
    }

private:
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

    std::optional<CleanResult> performClean(std::string_view u, int depth) {
        const auto providers = matchingProviders(u);
        if (engine_.isCategoryEnabled(RuleCategoryType::redirectUnwrapping)) {
            for (const CompiledProvider* provider : providers) {
                if (isException(u, *provider)) continue;
                auto target = redirectionTarget(u, *provider);
                if (!target) continue;
                CleanResult result;
                result.originalURL = std::string(u);
                for (const auto& rule : provider->redirectionRegexes)
                    record(result, "Redirect Unwrapping:" + rule.pattern, RuleCategoryType::redirectUnwrapping);
                CleanOperation unwrap;
                unwrap.kind = CleanOperationKind::offlineWrapperUnwrap;
                unwrap.inputURL = std::string(u);
                unwrap.outputURL = *target;
                unwrap.note = "Rule-based redirect wrapper removal";
                result.operations.push_back(unwrap);
                std::optional<CleanResult> inner;
                if (depth < URLCleaner::maximumRedirectDepth) inner = performClean(*target, depth + 1);
                if (!inner) {
                    result.cleanedURL = *target;
                    result.paramsRemoved = 1;
                    return result;
                }
                result.cleanedURL = inner->cleanedURL;
                result.paramsRemoved = inner->paramsRemoved + 1;
                result.removedQueryParameters = inner->removedQueryParameters;
                result.matchedRuleIDs.insert(result.matchedRuleIDs.end(), inner->matchedRuleIDs.begin(),
                                             inner->matchedRuleIDs.end());
                result.matchedCategories.insert(inner->matchedCategories);
                result.cleanedOriginalURL = inner->cleanedOriginalURL;
                result.privacyRedirect = inner->privacyRedirect;
                result.operations.insert(result.operations.end(), inner->operations.begin(), inner->operations.end());
                return result;
            }
        }

        CleanResult result;
        std::string c(u);
        bool pathChanged = false;
        for (const CompiledProvider* provider : providers) {
            if (isException(c, *provider)) continue;
            std::string rewritten = withoutPathRules(c, *provider);
            if (rewritten == c) continue;
            CleanOperation operation;
            operation.kind = CleanOperationKind::offlinePathRewrite;
            operation.inputURL = c;
            operation.outputURL = rewritten;
            operation.note = "Rule-based path cleanup";
            result.operations.push_back(operation);
            for (const auto& rule : provider->rawRuleRegexes)
                record(result, std::string(rawValue(provider->category)) + ":" + rule.pattern, provider->category);
            result.matchedCategories.insert(provider->category);
            c = rewritten;
            pathChanged = true;
        }

        auto components = URLComponents::parse(c);
        if (!components) return std::nullopt;
        const auto encodedHost = components->percentEncodedHost();
        const std::string host = encodedHost ? decodedName(*encodedHost) : std::string();
        const std::string lowerHost = text::toLower(host);
        const auto siteHost = site_rules::lowerCaseHost(*components);
        const auto challenge = site_rules::redditJSChallengeParamsToStrip(*components, siteHost);
        const bool searchPage = site_rules::isGoogleSearchURL(*components, siteHost);
        std::vector<std::string> removed;
        auto decide = [&](const URLQueryItemView& item) {
            const std::string name = decodedName(item.name);
            const bool blocked = blocks(name, host);
            if (blocked) result.matchedRuleIDs.push_back("user:" + name);
            if (!blocked && encodedHost && lowerHost == site_rules::youTubeMusicHost &&
                (text::asciiLower(name) == "si" || text::asciiLower(name) == "is"))
                return false;
            if (std::find(challenge.begin(), challenge.end(), name) != challenge.end() &&
                engine_.isCategoryEnabled(RuleCategoryType::socialMedia)) {
                record(result, "Social Media:reddit_js_challenge:" + name, RuleCategoryType::socialMedia);
            } else if (blocked) {
            } else if (searchPage && name == "client" && engine_.isCategoryEnabled(RuleCategoryType::analytics)) {
                record(result, "Analytics:google_search:" + name, RuleCategoryType::analytics);
            } else {
                bool matched = false;
                for (const CompiledProvider* provider : providers) {
                    if (isException(c, *provider)) continue;
                    if (auto id = shouldStripParam(name, *provider)) {
                        record(result, *id, provider->category);
                        matched = true;
                        break;
                    }
                }
                if (!matched) {
                    const FallbackRule* rule = fallbackRule(name);
                    if (rule == nullptr) return false;
                    record(result, rule->ruleID, rule->category);
                }
            }
            removed.push_back(name);
            return true;
        };
        if (components->removeQueryItems(decide) > 0) {
            CleanOperation operation;
            operation.kind = CleanOperationKind::localParameterRemoval;
            operation.inputURL = c;
            operation.outputURL = components->string();
            operation.removedParameters = removed;
            result.operations.push_back(operation);
        }
        bool fragmentCleared = false;
        if (site_rules::shouldClearGoogleSearchLocalFragment(*components) &&
            engine_.isCategoryEnabled(RuleCategoryType::analytics)) {
            CleanOperation operation;
            operation.kind = CleanOperationKind::localParameterRemoval;
            operation.inputURL = components->string();
            components->setFragment(std::nullopt);
            record(result, "Analytics:google_search:local_fragment", RuleCategoryType::analytics);
            operation.outputURL = components->string();
            operation.removedParameters = {"#google-local-state"};
            result.operations.push_back(operation);
            fragmentCleared = true;
        }
        if (components->string() == u) return std::nullopt;
        result.originalURL = std::string(u);
        result.cleanedURL = components->string();
        const auto count = static_cast<std::int64_t>(removed.size());
        result.paramsRemoved = count + (fragmentCleared ? 1 : 0) + (pathChanged && count == 0 ? 1 : 0);
        result.removedQueryParameters = removed;
        return result;
    }

    RulesEngine& engine_;
    const DomainExceptionStore* exceptions_;
    std::vector<CustomBlockRule> blocklist_;
};

}  // namespace tessaril::testing
