// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/URLCleaner.h"

#include "core/cleaning/SiteRules.h"
#include "core/foundation/Text.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"

#include <algorithm>
#include <memory>
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
constexpr std::string_view kRedditChallengeRulePrefix = "Social Media:reddit_js_challenge:";
constexpr std::string_view kSearchClientRulePrefix = "Analytics:google_search:";

// The decoded host in lower case into `out` (false without a host). An ASCII host is lower-cased in
// place, which is what the full lower-casing does to ASCII, without a new string.
bool lowerCaseHostInto(const URLComponents& components, std::string& out) {
    auto encoded = components.percentEncodedHost();
    if (!encoded) return false;
    std::string scratch;
    const std::string_view host = text::percentDecodedView(*encoded, scratch);
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

// What a link's parameters are decided against, worked out once per link.
struct ParameterContext {
    // The user's blocklist, when it has rules, and the host its site rules are compared with.
    const CustomBlocklistStore::Snapshot* blocklist = nullptr;
    std::string_view blocklistHost;
    std::span<const std::string_view> challengeParams;
    bool isMusicHost = false;
    bool stripSearchClient = false;
    bool socialMediaOn = false;
};

// The rule a removed parameter is counted under: one of the site rules (its identifier is a prefix
// and the name) or a rule of the rules list.
struct RemovingRule {
    RuleCategoryType category{};
    std::string_view sitePrefix;
    std::optional<ParameterRule> listed;

    [[nodiscard]] std::string id(std::string_view name) const {
        return listed ? listed->id() : std::string(sitePrefix) + std::string(name);
    }
};

struct ParameterDecision {
    bool remove = false;
    // The user's blocklist names the parameter (it then goes, whatever else is said).
    bool userBlocked = false;
    std::optional<RemovingRule> rule;
};

// The order decides: the user's blocklist, the music site's kept parameters, the challenge
// parameters, then the search client, the providers' rules and the built-in and custom rules (which
// a provider may keep on its links).
ParameterDecision decideParameter(std::string_view name, const ParameterContext& context, LinkMatch& link) {
    ParameterDecision decision;
    decision.userBlocked = context.blocklist != nullptr && context.blocklist->blocks(name, context.blocklistHost);
    if (!decision.userBlocked && context.isMusicHost && site_rules::isKeptOnMusicSite(name)) return decision;
    const auto named = [name](auto list) { return std::find(list.begin(), list.end(), name) != list.end(); };
    if (context.socialMediaOn && named(context.challengeParams)) {
        decision.remove = true;
        decision.rule = RemovingRule{RuleCategoryType::socialMedia, kRedditChallengeRulePrefix, std::nullopt};
        return decision;
    }
    if (decision.userBlocked) {
        decision.remove = true;
        return decision;
    }
    if (context.stripSearchClient && named(std::span(site_rules::googleSearchParamsToStrip))) {
        decision.remove = true;
        decision.rule = RemovingRule{RuleCategoryType::analytics, kSearchClientRulePrefix, std::nullopt};
        return decision;
    }
    if (auto rule = link.strippingRule(name)) {
        decision.remove = true;
        decision.rule = RemovingRule{rule->category(), {}, rule};
    }
    return decision;
}

}  // namespace

struct URLCleaner::Account {
    std::vector<std::string> ids;
    RuleCategorySet categories;
    std::vector<CleanOperation> operations;
    std::vector<std::string> removedNames;
    std::int64_t removedCount = 0;
    bool pathChanged = false;
    bool fragmentCleared = false;
};

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

std::optional<CleanResult> URLCleaner::unwrapRedirect(LinkMatch& link, int depth) {
    auto redirect = link.redirect();
    if (!redirect) return std::nullopt;
    const std::string_view url = link.text();
    std::string& target = redirect->target;
    // The whole wrapper counts as one match of each of its provider's redirect rules.
    CleanResult result;
    const auto noteRule = [&](const CompiledPattern& rule) {
        noteMatch(
            result.matchedRuleIDs, [&] { return "Redirect Unwrapping:" + rule.pattern; },
            RuleCategoryType::redirectUnwrapping);
    };
    for (const auto& rule : redirect->provider->redirectionRegexes)
        noteRule(rule);
    for (const auto& rule : redirect->provider->encodedRedirectionRegexes)
        noteRule(rule);
    result.originalURL = std::string(url);
    result.matchedCategories.insert(RuleCategoryType::redirectUnwrapping);
    if (detail_ == ResultDetail::full) {
        result.operations.push_back(
            makeOperation(CleanOperationKind::offlineWrapperUnwrap, std::string(url), target, {}, kUnwrapNote));
    }
    std::optional<CleanResult> inner;
    if (depth < maximumRedirectDepth) inner = performClean(target, depth + 1, nullptr);
    if (!inner) {
        result.cleanedURL = std::move(target);
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

std::optional<CleanResult> URLCleaner::performClean(std::string_view trimmed, int depth, URLComponents* parsed) {
    LinkMatch& link = links_[static_cast<std::size_t>(std::clamp(depth, 0, maximumRedirectDepth))];
    rulesEngine_.matcher().match(trimmed, link);
    if (!link.providers().empty()) {
        if (auto unwrapped = unwrapRedirect(link, depth)) return unwrapped;
    }
    Account account;
    // A cut can leave a link whose parameters are another provider's to remove, or that its own
    // provider excepts (a search page, once its tracking segment is gone). Cleaning what is left as
    // a link of its own keeps a cleaned link clean.
    for (int round = 0; round < maximumPathRounds && applyPathRules(link, account); ++round) {
        account.pathChanged = true;
        link.matchRewritten();
    }
    // The caller's parse of the input serves as long as no path rule changed the text.
    std::optional<URLComponents> reparsed;
    if (parsed == nullptr || account.pathChanged) {
        reparsed = URLComponents::parse(link.text());
        if (!reparsed) return std::nullopt;
    }
    URLComponents& components = reparsed ? *reparsed : *parsed;
    removeParameters(components, link, account);
    clearSearchFragment(components, account);
    return finish(trimmed, components, account);
}

bool URLCleaner::applyPathRules(LinkMatch& link, Account& account) {
    bool changed = false;
    while (const CompiledProvider* provider = link.nextPathRewrite()) {
        if (detail_ == ResultDetail::full) {
            account.operations.push_back(makeOperation(CleanOperationKind::offlinePathRewrite,
                                                       std::string(link.textBeforeRewrite()), std::string(link.text()),
                                                       {}, kPathNote));
        }
        account.categories.insert(provider->category);
        for (const auto& rule : provider->rawRuleRegexes) {
            noteMatch(
                account.ids, [&] { return std::string(rawValue(provider->category)) + ":" + rule.pattern; },
                provider->category);
        }
        changed = true;
    }
    return changed;
}

void URLCleaner::removeParameters(URLComponents& components, LinkMatch& link, Account& account) {
    if (components.percentEncodedQuery().value_or(std::string_view()).empty()) return;
    const bool hasHost = lowerCaseHostInto(components, lowerHost_);
    const std::optional<std::string_view> lowerHost =
        hasHost ? std::optional<std::string_view>(lowerHost_) : std::nullopt;
    ParameterContext context;
    std::string blocklistHostScratch;
    if (auto encodedHost = components.percentEncodedHost())
        context.blocklistHost = text::percentDecodedView(*encodedHost, blocklistHostScratch);
    // One read of the user's list per link, not one per parameter.
    std::shared_ptr<const CustomBlocklistStore::Snapshot> blocklist;
    if (customBlocklist_ != nullptr) blocklist = customBlocklist_->snapshot();
    if (blocklist && !blocklist->empty()) context.blocklist = blocklist.get();
    context.challengeParams = site_rules::redditJSChallengeParamsToStrip(components, lowerHost);
    context.isMusicHost = hasHost && lowerHost_ == site_rules::youTubeMusicHost;
    context.stripSearchClient = site_rules::isGoogleSearchURL(components, lowerHost) &&
                                rulesEngine_.isCategoryEnabled(RuleCategoryType::analytics);
    context.socialMediaOn = rulesEngine_.isCategoryEnabled(RuleCategoryType::socialMedia);

    const bool full = detail_ == ResultDetail::full;
    std::string nameScratch;
    auto shouldRemove = [&](const URLQueryItemView& item) -> bool {
        const std::string_view name = text::percentDecodedView(item.name, nameScratch);
        const ParameterDecision decision = decideParameter(name, context, link);
        if (decision.userBlocked && full) account.ids.push_back("user:" + std::string(name));
        if (!decision.remove) return false;
        if (decision.rule) {
            noteMatch(
                account.ids, [&] { return decision.rule->id(name); }, decision.rule->category);
            account.categories.insert(decision.rule->category);
        }
        ++account.removedCount;
        if (full) account.removedNames.emplace_back(name);
        return true;
    };
    // The link as it stands is the text the components were parsed from: the operation's input.
    if (components.removeQueryItems(shouldRemove) > 0 && full) {
        account.operations.push_back(makeOperation(CleanOperationKind::localParameterRemoval, std::string(link.text()),
                                                   components.string(), account.removedNames));
    }
}

void URLCleaner::clearSearchFragment(URLComponents& components, Account& account) {
    if (!site_rules::shouldClearGoogleSearchLocalFragment(components) ||
        !rulesEngine_.isCategoryEnabled(RuleCategoryType::analytics)) {
        return;
    }
    std::string before = detail_ == ResultDetail::full ? components.string() : std::string();
    components.setFragment(std::nullopt);
    noteMatch(
        account.ids, [] { return std::string(kLocalFragmentRuleID); }, RuleCategoryType::analytics);
    account.categories.insert(RuleCategoryType::analytics);
    if (detail_ == ResultDetail::full) {
        account.operations.push_back(makeOperation(CleanOperationKind::localParameterRemoval, std::move(before),
                                                   components.string(), {std::string(kLocalFragmentParameter)}));
    }
    account.fragmentCleared = true;
}

std::optional<CleanResult> URLCleaner::finish(std::string_view trimmed, const URLComponents& components,
                                              Account& account) {
    const std::string& finalURL = components.string();
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
            account.operations.push_back(
                makeOperation(CleanOperationKind::privacyRedirect, finalURL, rewrite->redirectedURL, {}, kPrivacyNote));
        }
        result.cleanedOriginalURL = finalURL;
        result.privacyRedirect = rewrite->info();
    }
    const std::int64_t removed = account.removedCount;
    result.paramsRemoved = removed + (account.fragmentCleared ? 1 : 0) + (account.pathChanged && removed == 0 ? 1 : 0);
    result.removedQueryParameters = std::move(account.removedNames);
    result.matchedRuleIDs = std::move(account.ids);
    result.matchedCategories = account.categories;
    result.operations = std::move(account.operations);
    return result;
}

}  // namespace tessaril
