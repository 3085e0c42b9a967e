// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/URLCleaner.h"

#include "core/foundation/Text.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace tessaril {

namespace {

constexpr std::string_view kUnwrapNote = "Rule-based redirect wrapper removal";
constexpr std::string_view kPathNote = "Rule-based path cleanup";
constexpr std::string_view kPrivacyNote = "User-enabled privacy frontend rewrite";
constexpr std::string_view kResolutionNote = "User-authorized canonical link resolution";
constexpr std::string_view kLocalFragmentRuleID = "Analytics:google_search:local_fragment";
constexpr std::string_view kLocalFragmentParameter = "#google-local-state";

bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// The host is the domain itself or one of its subdomains.
bool isOnDomain(std::string_view lowerHost, std::string_view domain) {
    if (lowerHost == domain) return true;
    return lowerHost.size() > domain.size() && lowerHost.ends_with(domain) &&
           lowerHost[lowerHost.size() - domain.size() - 1] == '.';
}

// The decoded text of a query item's name or value as the rules see it. Text without escapes is
// its own decoding, which spares almost every parameter a copy; text whose escapes do not decode is
// taken as written.
std::string_view decoded(std::string_view encoded, std::string& scratch) {
    if (encoded.find('%') == std::string_view::npos) return encoded;
    auto text = text::percentDecode(encoded);
    if (!text) return encoded;
    scratch = std::move(*text);
    return scratch;
}

// The decoded host in lower case, or nothing when the link has none.
std::optional<std::string> lowerCaseHost(const URLComponents& components) {
    auto encoded = components.percentEncodedHost();
    if (!encoded) return std::nullopt;
    std::string scratch;
    return text::toLower(decoded(*encoded, scratch));
}

// The same into `out` (false without a host). An ASCII host is lower-cased in place, which is what
// the full lower-casing does to ASCII, without a new string.
bool lowerCaseHostInto(const URLComponents& components, std::string& out) {
    auto encoded = components.percentEncodedHost();
    if (!encoded) return false;
    std::string scratch;
    const std::string_view host = decoded(*encoded, scratch);
    if (std::any_of(host.begin(), host.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; })) {
        out = text::toLower(host);
        return true;
    }
    out.assign(host);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return true;
}

CleanOperation makeOperation(CleanOperationKind kind, std::string input, std::string output,
                             std::vector<std::string> removed = {}, std::optional<std::string_view> note = {}) {
    CleanOperation operation;
    operation.kind = kind;
    operation.inputURL = std::move(input);
    operation.outputURL = std::move(output);
    operation.removedParameters = std::move(removed);
    if (note) operation.note = std::string(*note);
    return operation;
}

template <typename T>
void appendAll(std::vector<T>& into, std::vector<T>&& from) {
    into.insert(into.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
}

}  // namespace

URLCleaner::URLCleaner(RulesEngine& rulesEngine, DomainExceptionStore* exceptionStore,
                       PrivacyRedirectSettings privacyRedirectSettings)
    : rulesEngine_(rulesEngine),
      exceptionStore_(exceptionStore),
      privacyRedirectSettings_(std::move(privacyRedirectSettings)) {}

CleanOutcome URLCleaner::cleanWithOutcome(std::string_view urlString) {
    const std::string_view trimmed = text::trim(urlString);
    // Case-sensitive on purpose: "HTTPS://" is left for the user to fix rather than guessed at. Either
    // test refuses; the prefix goes first because it spares parsing text that is no link at all.
    if (!trimmed.starts_with("http://") && !trimmed.starts_with("https://")) return CleanOutcome::invalid();
    URLComponents& components = input_;
    if (!components.parseInto(trimmed)) return CleanOutcome::invalid();
    if (exceptionStore_ != nullptr && exceptionStore_->hasDisabledDomains()) {
        if (auto host = DomainExceptionStore::normalizedHost(components); host && exceptionStore_->isDisabled(*host)) {
            return CleanOutcome::skippedDisabled(std::move(*host));
        }
    }
    auto result = performClean(trimmed, 0, &components);
    if (!result) return CleanOutcome::unchanged();
    if (matchCounting_ == MatchCounting::savedAfterEachClean) rulesEngine_.saveMatchCounts();
    return CleanOutcome::cleaned(std::move(*result));
}

template <typename MakeID>
void URLCleaner::noteMatch(std::vector<std::string>& ids, MakeID makeID, RuleCategoryType category) {
    if (detail_ == ResultDetail::cleanedURLOnly && matchCounting_ == MatchCounting::off) return;
    ids.push_back(makeID());
    if (matchCounting_ != MatchCounting::off) rulesEngine_.recordMatch(ids.back(), category);
}

std::optional<CleanResult> URLCleaner::clean(std::string_view urlString) {
    auto outcome = cleanWithOutcome(urlString);
    if (const CleanResult* result = outcome.result()) return *result;
    return std::nullopt;
}

CleanResult URLCleaner::resultAfterNetworkResolution(std::string_view originalURL, std::string_view resolvedURL,
                                                     std::string_view contactedHost) {
    auto outcome = cleanWithOutcome(resolvedURL);
    CleanResult result;
    if (const CleanResult* cleaned = outcome.result()) {
        result = *cleaned;
    } else {
        result.cleanedURL = std::string(resolvedURL);
    }
    result.originalURL = std::string(originalURL);
    CleanOperation resolution = makeOperation(CleanOperationKind::networkResolution, std::string(originalURL),
                                              std::string(resolvedURL), {}, kResolutionNote);
    resolution.networkUsed = true;
    resolution.contactedHost = std::string(contactedHost);
    result.operations.insert(result.operations.begin(), std::move(resolution));
    return result;
}

std::optional<CleanResult> URLCleaner::unwrapRedirect(LinkScan& scan, int depth,
                                                      std::span<const CompiledProvider* const> providers) {
    RulesEngine& engine = rulesEngine_;
    if (!engine.isCategoryEnabled(RuleCategoryType::redirectUnwrapping)) return std::nullopt;
    const std::string_view url = scan.text();
    for (std::size_t at = engine.nextRedirectionProvider(scan, providers, 0); at < providers.size();
         at = engine.nextRedirectionProvider(scan, providers, at + 1)) {
        const CompiledProvider* provider = providers[at];
        if (engine.isException(scan, *provider)) continue;
        auto target = engine.extractRedirection(scan, *provider);
        if (!target) continue;

        // The whole wrapper counts as one match of each of its provider's redirect rules.
        CleanResult result;
        for (const auto& rule : provider->redirectionRegexes) {
            noteMatch(
                result.matchedRuleIDs, [&] { return "Redirect Unwrapping:" + rule.pattern; },
                RuleCategoryType::redirectUnwrapping);
        }
        result.originalURL = std::string(url);
        result.matchedCategories.insert(RuleCategoryType::redirectUnwrapping);
        if (detail_ == ResultDetail::full) {
            result.operations.push_back(
                makeOperation(CleanOperationKind::offlineWrapperUnwrap, std::string(url), *target, {}, kUnwrapNote));
        }
        std::optional<CleanResult> inner;
        if (depth < maximumRedirectDepth) inner = performClean(*target, depth + 1);
        if (!inner) {
            result.cleanedURL = std::move(*target);
            result.paramsRemoved = 1;
            return result;
        }
        result.cleanedURL = std::move(inner->cleanedURL);
        result.paramsRemoved = inner->paramsRemoved + 1;
        result.removedQueryParameters = std::move(inner->removedQueryParameters);
        appendAll(result.matchedRuleIDs, std::move(inner->matchedRuleIDs));
        result.matchedCategories.insert(inner->matchedCategories);
        result.cleanedOriginalURL = std::move(inner->cleanedOriginalURL);
        result.privacyRedirect = std::move(inner->privacyRedirect);
        appendAll(result.operations, std::move(inner->operations));
        return result;
    }
    return std::nullopt;
}

std::optional<CleanResult> URLCleaner::performClean(std::string_view trimmed, int depth) {
    return performClean(trimmed, depth, nullptr);
}

std::optional<CleanResult> URLCleaner::performClean(std::string_view trimmed, int depth, URLComponents* parsed) {
    RulesEngine& engine = rulesEngine_;
    // One list per wrapper level, kept between calls: a link needs no new one.
    const auto level = static_cast<std::size_t>(std::clamp(depth, 0, maximumRedirectDepth));
    std::vector<const CompiledProvider*>& providers = providerLists_[level];
    LinkScan& scan = scans_[level];
    engine.scan(trimmed, scan);
    engine.matchingProviders(scan, providers);

    // A wrapper is cleaned through its target; nothing below runs on the wrapper itself.
    if (!providers.empty()) {
        if (auto unwrapped = unwrapRedirect(scan, depth, providers)) return unwrapped;
    }

    std::vector<std::string> ids;
    RuleCategorySet categories;
    std::vector<CleanOperation> operations;

    // The text stays a view of the input until a path rule changes it.
    std::string_view current = trimmed;
    std::string rewrittenText;
    bool pathChanged = false;
    // Most links meet no path rule at all. The scan is redone after each rewrite, so the next
    // provider is looked for in the rewritten text.
    for (std::size_t at = engine.nextPathRuleProvider(scan, providers, 0); at < providers.size();
         at = engine.nextPathRuleProvider(scan, providers, at + 1)) {
        const CompiledProvider* provider = providers[at];
        if (engine.isException(scan, *provider)) continue;
        std::string rewritten = engine.applyRawRules(current, *provider);
        if (rewritten == current) continue;
        if (detail_ == ResultDetail::full) {
            operations.push_back(
                makeOperation(CleanOperationKind::offlinePathRewrite, std::string(current), rewritten, {}, kPathNote));
        }
        categories.insert(provider->category);
        for (const auto& rule : provider->rawRuleRegexes) {
            noteMatch(
                ids, [&] { return std::string(rawValue(provider->category)) + ":" + rule.pattern; },
                provider->category);
        }
        rewrittenText = std::move(rewritten);
        current = rewrittenText;
        engine.scan(current, scan);
        pathChanged = true;
    }

    // The caller's parse of the input serves as long as no path rule changed the text.
    std::optional<URLComponents> reparsed;
    if (parsed == nullptr || pathChanged) {
        reparsed = URLComponents::parse(current);
        if (!reparsed) return std::nullopt;
    }
    URLComponents* const components = reparsed ? &*reparsed : parsed;
    const bool hasHost = lowerCaseHostInto(*components, lowerHost_);

    std::vector<std::string> removedNames;
    std::int64_t removedCount = 0;
    if (!components->percentEncodedQuery().value_or(std::string_view()).empty()) {
        std::string_view blocklistHost;
        std::string blocklistHostScratch;
        if (auto encodedHost = components->percentEncodedHost())
            blocklistHost = decoded(*encodedHost, blocklistHostScratch);
        // One read of the user's list per link, not one per parameter.
        std::shared_ptr<const CustomBlocklistStore::Snapshot> blocklist;
        if (customBlocklist_ != nullptr) {
            blocklist = customBlocklist_->snapshot();
            if (blocklist->empty()) blocklist.reset();
        }
        const std::optional<std::string_view> lowerHost =
            hasHost ? std::optional<std::string_view>(lowerHost_) : std::nullopt;
        const auto challengeParams = redditJSChallengeParamsToStrip(*components, lowerHost);
        const bool isMusicHost = hasHost && lowerHost_ == youTubeMusicHost;
        const bool stripSearchClient =
            isGoogleSearchURL(*components, lowerHost) && engine.isCategoryEnabled(RuleCategoryType::analytics);
        const bool socialMediaOn = engine.isCategoryEnabled(RuleCategoryType::socialMedia);
        // Provider exceptions are decided once on the link, not once per parameter.
        engine.parameterProviders(scan, providers, parameterProviders_);

        std::string nameScratch;
        auto shouldRemove = [&](const URLQueryItemView& item) -> bool {
            const std::string_view name = decoded(item.name, nameScratch);
            bool blocked = false;
            if (blocklist && blocklist->blocks(name, blocklistHost)) {
                if (detail_ == ResultDetail::full) ids.push_back("user:" + std::string(name));
                blocked = true;
            }
            auto remove = [&] {
                ++removedCount;
                if (detail_ == ResultDetail::full) removedNames.emplace_back(name);
                return true;
            };
            auto removeFor = [&](auto makeID, RuleCategoryType category) {
                noteMatch(ids, makeID, category);
                categories.insert(category);
                return remove();
            };
            if (!blocked && isMusicHost) {
                for (auto kept : youTubeMusicKeptParams) {
                    if (asciiEqualsIgnoringCase(name, kept)) return false;
                }
            }
            if (socialMediaOn &&
                std::find(challengeParams.begin(), challengeParams.end(), name) != challengeParams.end()) {
                return removeFor([&] { return "Social Media:reddit_js_challenge:" + std::string(name); },
                                 RuleCategoryType::socialMedia);
            }
            if (blocked) return remove();
            if (stripSearchClient && std::find(googleSearchParamsToStrip.begin(), googleSearchParamsToStrip.end(),
                                               name) != googleSearchParamsToStrip.end()) {
                return removeFor([&] { return "Analytics:google_search:" + std::string(name); },
                                 RuleCategoryType::analytics);
            }
            // A referral rule is counted under the provider's own category, like its other rules.
            if (const auto match = engine.firstStrippingRule(name, parameterProviders_))
                return removeFor([&] { return RulesEngine::ruleID(*match); }, match->provider->category);
            if (auto rule = engine.shouldStripParamFallback(name))
                return removeFor([&] { return std::move(rule->first); }, rule->second);
            return false;
        };
        // `current` is the text the components were parsed from, so it is the operation's input.
        if (components->removeQueryItems(shouldRemove) > 0 && detail_ == ResultDetail::full) {
            operations.push_back(makeOperation(CleanOperationKind::localParameterRemoval, std::string(current),
                                               components->string(), removedNames));
        }
    }

    bool fragmentCleared = false;
    if (shouldClearGoogleSearchLocalFragment(*components) && engine.isCategoryEnabled(RuleCategoryType::analytics)) {
        std::string before = detail_ == ResultDetail::full ? components->string() : std::string();
        components->setFragment(std::nullopt);
        noteMatch(
            ids, [] { return std::string(kLocalFragmentRuleID); }, RuleCategoryType::analytics);
        categories.insert(RuleCategoryType::analytics);
        if (detail_ == ResultDetail::full) {
            operations.push_back(makeOperation(CleanOperationKind::localParameterRemoval, std::move(before),
                                               components->string(), {std::string(kLocalFragmentParameter)}));
        }
        fragmentCleared = true;
    }

    const std::string& finalURL = components->string();
    std::optional<PrivacyRedirectResult> rewrite;
    // Both switches off means no rewrite; skipping the call spares a second parse of every link.
    if (privacyRedirectSettings_.xRedirectEnabled || privacyRedirectSettings_.redditRedirectEnabled) {
        rewrite = privacyRedirector_.redirect(finalURL, privacyRedirectSettings_);
    }
    const std::string& output = rewrite ? rewrite->redirectedURL : finalURL;
    if (output == trimmed) return std::nullopt;

    CleanResult result;
    result.originalURL = std::string(trimmed);
    result.cleanedURL = output;
    if (rewrite) {
        if (detail_ == ResultDetail::full) {
            operations.push_back(
                makeOperation(CleanOperationKind::privacyRedirect, finalURL, rewrite->redirectedURL, {}, kPrivacyNote));
        }
        result.cleanedOriginalURL = finalURL;
        result.privacyRedirect = rewrite->info();
    }
    result.paramsRemoved = removedCount + (fragmentCleared ? 1 : 0) + (pathChanged && removedCount == 0 ? 1 : 0);
    result.removedQueryParameters = std::move(removedNames);
    result.matchedRuleIDs = std::move(ids);
    result.matchedCategories = categories;
    result.operations = std::move(operations);
    return result;
}

std::span<const std::string_view> URLCleaner::redditJSChallengeParamsToStrip(const URLComponents& components) {
    const auto host = lowerCaseHost(components);
    return redditJSChallengeParamsToStrip(components, host ? std::optional<std::string_view>(*host) : std::nullopt);
}

std::span<const std::string_view> URLCleaner::redditJSChallengeParamsToStrip(const URLComponents& components,
                                                                             std::optional<std::string_view> host) {
    if (!host || !isOnDomain(*host, redditPrimaryDomain)) return {};
    bool hasSolution = false;
    bool hasToken = false;
    std::string nameScratch;
    std::string valueScratch;
    for (const auto& item : components.percentEncodedQueryItemViews()) {
        const std::string_view name = decoded(item.name, nameScratch);
        if (name == "jsc_orig_r") return redditJSChallengeParams;
        if (name == "js_challenge" && item.value && decoded(*item.value, valueScratch) == "1") {
            return redditJSChallengeParams;
        }
        hasSolution = hasSolution || name == "solution";
        hasToken = hasToken || name == "token";
        if (hasSolution && hasToken) return redditJSChallengeParams;
    }
    return {};
}

bool URLCleaner::isGoogleSearchURL(const URLComponents& components) {
    const auto host = lowerCaseHost(components);
    return isGoogleSearchURL(components, host ? std::optional<std::string_view>(*host) : std::nullopt);
}

bool URLCleaner::isGoogleSearchURL(const URLComponents& components, std::optional<std::string_view> host) {
    if (!host || !isOnDomain(*host, googleSearchPrimaryDomain)) return false;
    std::string scratch;
    if (decoded(components.percentEncodedPath(), scratch) != "/search") return false;
    for (const auto& item : components.percentEncodedQueryItemViews()) {
        if (decoded(item.name, scratch) == "q") return true;
    }
    return false;
}

bool URLCleaner::shouldClearGoogleSearchLocalFragment(const URLComponents& components) {
    auto encoded = components.percentEncodedFragment();
    if (!encoded || encoded->empty() || !isGoogleSearchURL(components)) return false;
    std::string scratch;
    const std::string_view fragment = decoded(*encoded, scratch);
    return std::any_of(googleSearchLocalFragmentMarkers.begin(), googleSearchLocalFragmentMarkers.end(),
                       [fragment](std::string_view marker) { return fragment.find(marker) != std::string_view::npos; });
}

}  // namespace tessaril
