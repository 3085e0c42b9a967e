// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RulesEngine.h"

#include "core/foundation/FileContents.h"
#include "core/foundation/Text.h"

#include <algorithm>
#include <initializer_list>
#include <iostream>
#include <system_error>
#include <unordered_map>

namespace tessaril {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 2> kSupplementaryGroups = {"group.com.orvellelabs.tessaril",
                                                                  "group.com.quenby.tessaril"};
constexpr std::string_view kSupplementaryFileName = "tessaril-supplementary.json";

fs::file_time_type modificationDate(const fs::path& path) {
    std::error_code error;
    auto time = fs::last_write_time(path, error);
    return error ? fs::file_time_type::min() : time;
}

bool containsAny(std::string_view text, std::initializer_list<std::string_view> needles) {
    for (auto needle : needles) {
        if (text.find(needle) != std::string_view::npos) return true;
    }
    return false;
}

bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size()) return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lowerPrefix[i]) return false;
    }
    return true;
}

// The first rule, in rule order, that `accept(number, certain)` takes from the two ascending lists a
// name index gives: rules that match for certain and rules whose expression must still run. Rule
// order decides which identifier a name is reported under, so the lists are merged, not chained.
template <typename Accept>
std::optional<std::uint32_t> firstInRuleOrder(const std::vector<std::uint32_t>& certain,
                                              const std::vector<std::uint32_t>& candidates, Accept accept) {
    std::size_t c = 0;
    std::size_t k = 0;
    while (c < certain.size() || k < candidates.size()) {
        const bool takeCertain = k >= candidates.size() || (c < certain.size() && certain[c] < candidates[k]);
        const std::uint32_t number = takeCertain ? certain[c++] : candidates[k++];
        if (accept(number, takeCertain)) return number;
    }
    return std::nullopt;
}

std::vector<CompiledPattern> compilePatterns(const std::vector<std::string>& patterns, bool anchored) {
    std::vector<CompiledPattern> compiled;
    compiled.reserve(patterns.size());
    for (const auto& pattern : patterns) {
        // The anchors are plain text around the pattern, so with a top-level alternation only the
        // first alternative is tied to the start and the last to the end, as the rule files expect.
        std::optional<Regex> regex;
        if (anchored && NameRuleIndex::literalExpansion(pattern)) {
            // Most names are plain words, which the name index answers without an expression; theirs
            // is compiled only if a name outside printable ASCII ever needs it. The index's grammar
            // is a subset of ICU's, so the pattern is known to compile.
            regex = Regex::deferred("^" + pattern + "$", true);
        } else {
            regex = anchored ? Regex::compile("^" + pattern + "$", true) : Regex::compile(pattern, true);
        }
        if (!regex) continue;
        regex->setWorkLimit(RulesEngine::matchWorkLimit);
        RulePrefilter prefilter = anchored ? RulePrefilter() : RulePrefilter::fromPattern(pattern, true);
        compiled.push_back(CompiledPattern{std::move(*regex), pattern, std::move(prefilter)});
    }
    return compiled;
}

std::optional<CompiledProvider> compileProvider(const std::string& name, const Provider& provider) {
    auto urlRegex = Regex::compile(provider.urlPattern, true);
    if (!urlRegex) return std::nullopt;
    urlRegex->setWorkLimit(RulesEngine::matchWorkLimit);
    std::vector<Regex> exceptions;
    std::vector<RulePrefilter> exceptionFilters;
    exceptions.reserve(provider.exceptions.size());
    exceptionFilters.reserve(provider.exceptions.size());
    for (const auto& pattern : provider.exceptions) {
        if (auto regex = Regex::compile(pattern, true)) {
            regex->setWorkLimit(RulesEngine::matchWorkLimit);
            exceptions.push_back(std::move(*regex));
            exceptionFilters.push_back(RulePrefilter::fromPattern(pattern, true));
        }
    }
    auto params = compilePatterns(provider.rules, true);
    auto referrals = compilePatterns(provider.referralMarketing, true);
    auto rawRules = compilePatterns(provider.rawRules, false);
    auto redirections = compilePatterns(provider.redirections, false);
    return CompiledProvider{name,
                            provider,
                            std::move(*urlRegex),
                            std::move(exceptions),
                            std::move(exceptionFilters),
                            std::move(params),
                            std::move(rawRules),
                            std::move(redirections),
                            std::move(referrals),
                            RulesEngine::categorize(name, provider)};
}

}  // namespace

RulesEngine::RulesEngine(UserDefaults& defaults, RulesEngineEnvironment environment)
    : defaults_(defaults), environment_(std::move(environment)) {}

void RulesEngine::report(std::string_view line) const {
    if (environment_.diagnostic) {
        environment_.diagnostic(line);
        return;
    }
    std::cout << line << '\n' << std::flush;
}

// --- Loading

bool RulesEngine::loadBundledRules() {
    std::optional<std::string> clearURLsData;
    if (environment_.resources != nullptr) {
        if (auto url = environment_.resources->url("data.min", "json")) clearURLsData = readFileContents(*url);
    }
    if (!clearURLsData) {
        report("Warning: Could not load bundled rules");
        return false;
    }
    std::optional<std::string> supplementaryData;
    if (auto url = supplementaryRulesURL()) supplementaryData = readFileContents(*url);
    bool loaded = loadRules(*clearURLsData);
    if (supplementaryData) appendSupplementaryRules(*supplementaryData);
    return loaded;
}

std::optional<fs::path> RulesEngine::supplementaryRulesURL() const {
    std::vector<fs::path> candidates;
    if (environment_.paths != nullptr) {
        for (auto group : kSupplementaryGroups) {
            if (auto container = environment_.paths->sharedContainer(group)) {
                candidates.push_back(*container / kSupplementaryFileName);
            }
        }
    }
    if (environment_.resources != nullptr) {
        if (auto url = environment_.resources->url("tessaril-supplementary", "json")) candidates.push_back(*url);
    }
    std::optional<fs::path> chosen;
    fs::file_time_type chosenDate{};
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (!fs::exists(candidate, error)) continue;
        auto date = modificationDate(candidate);
        if (!chosen || date > chosenDate) {
            chosen = candidate;
            chosenDate = date;
        }
    }
    return chosen;
}

bool RulesEngine::loadRules(std::string_view data) {
    return applyProviders(data, false);
}

bool RulesEngine::appendSupplementaryRules(std::string_view data) {
    return applyProviders(data, true);
}

bool RulesEngine::loadRuleBundle(std::string_view clearURLsData, std::optional<std::string_view> supplementaryData) {
    bool loaded = loadRules(clearURLsData);
    if (supplementaryData) loaded = appendSupplementaryRules(*supplementaryData) && loaded;
    return loaded;
}

bool RulesEngine::applyProviders(std::string_view data, bool append) {
    auto file = ProvidersFile::decode(data);
    if (!file) {
        // Only the main file's failure is worth a line; a broken supplementary file is just skipped.
        if (!append) report("Warning: Could not decode rules JSON");
        return false;
    }
    std::vector<CompiledProvider> compiled;
    if (append) compiled = std::move(compiledProviders_);
    compiled.reserve(compiled.size() + file->providers.size());
    for (const auto& [name, provider] : file->providers) {
        if (auto compiledProvider = compileProvider(name, provider)) compiled.push_back(std::move(*compiledProvider));
    }
    compiledProviders_ = std::move(compiled);
    buildProviderIndexes();
    rebuild();
    return true;
}

void RulesEngine::rebuild() {
    buildCategories();
    buildFallbackRules();
    loadPersistedState();
    loadCustomRules();
    // Announced once the tree is complete, so that observers never see it half-built.
    categoriesChanged_.emit();
}

void RulesEngine::buildCategories() {
    std::array<RuleCategory::Rules, kAllRuleCategoryTypes.size()> lists;
    auto listFor = [&](RuleCategoryType type) -> RuleCategory::Rules& { return lists[static_cast<std::size_t>(type)]; };
    for (const auto& provider : compiledProviders_) {
        const std::string categoryName(rawValue(provider.category));
        auto add = [&](RuleCategoryType listedUnder, std::string id, const std::string& pattern,
                       std::string displayName) {
            listFor(listedUnder)
                .push_back(std::make_shared<RuleEntry>(std::move(id), pattern, std::move(displayName), listedUnder,
                                                       RuleEntry::Source::clearURLs));
        };
        for (const auto& rule : provider.paramRegexes) {
            add(provider.category, categoryName + ":" + rule.pattern, rule.pattern,
                provider.name + ": " + rule.pattern);
        }
        for (const auto& rule : provider.referralParamRegexes) {
            add(RuleCategoryType::referralMarketing, "Referral Marketing:" + rule.pattern, rule.pattern,
                provider.name + ": " + rule.pattern);
        }
        for (const auto& rule : provider.redirectionRegexes) {
            add(RuleCategoryType::redirectUnwrapping, "Redirect Unwrapping:" + rule.pattern, rule.pattern,
                provider.name + ": redirect");
        }
        for (const auto& rule : provider.rawRuleRegexes) {
            add(provider.category, categoryName + ":" + rule.pattern, rule.pattern, provider.name + ": path rule");
        }
    }
    std::vector<std::shared_ptr<RuleCategory>> categories;
    categories.reserve(kAllRuleCategoryTypes.size());
    for (RuleCategoryType type : kAllRuleCategoryTypes) {
        categories.push_back(std::make_shared<RuleCategory>(type, true, std::move(listFor(type))));
    }
    categories_ = std::move(categories);
    categoryByType_.fill(nullptr);
    for (const auto& category : categories_) {
        auto& slot = categoryByType_[static_cast<std::size_t>(category->type())];
        if (slot == nullptr) slot = category.get();
    }
}

void RulesEngine::buildFallbackRules() {
    fallbackRules_.clear();
    fallbackRulesChanged();
    if (auto utm = Regex::compile("^utm_.*$", true)) {
        fallbackRules_.push_back(FallbackRule{std::move(*utm), "Analytics:utm_*", RuleCategoryType::analytics});
    }
    for (auto name : fallbackParams) {
        if (name.starts_with("utm_")) continue;
        RuleCategoryType category = categorizeFallbackParam(name);
        std::string id = std::string(rawValue(category)) + ":" + std::string(name);
        appendFallbackRule(name, id, category);
        if (RuleCategory* listed = firstCategory(category)) {
            listed->appendRule(std::make_shared<RuleEntry>(std::move(id), std::string(name), std::string(name),
                                                           category, RuleEntry::Source::fallback));
        }
    }
    if (RuleCategory* analytics = firstCategory(RuleCategoryType::analytics)) {
        analytics->insertRule(0, std::make_shared<RuleEntry>("Analytics:utm_*", "utm_*", "utm_* (all UTM parameters)",
                                                             RuleCategoryType::analytics, RuleEntry::Source::fallback));
    }
}

void RulesEngine::appendFallbackRule(std::string_view literalName, std::string ruleID, RuleCategoryType category) {
    if (auto regex = Regex::compile("^" + Regex::escape(literalName) + "$", true)) {
        fallbackRules_.push_back(FallbackRule{std::move(*regex), std::move(ruleID), category});
        fallbackRulesChanged();
    }
}

void RulesEngine::buildProviderIndexes() {
    std::vector<std::string_view> urlPatterns;
    urlPatterns.reserve(compiledProviders_.size());
    std::unordered_map<std::string_view, std::uint32_t> groups;
    urlPatternGroup_.clear();
    providerNames_.clear();
    std::vector<std::string_view> names;
    for (const auto& provider : compiledProviders_) {
        urlPatterns.emplace_back(provider.urlRegex.pattern());
        auto [group, added] = groups.try_emplace(urlPatterns.back(), static_cast<std::uint32_t>(groups.size()));
        urlPatternGroup_.push_back(group->second);
        names.clear();
        for (const auto& rule : provider.paramRegexes)
            names.emplace_back(rule.pattern);
        for (const auto& rule : provider.referralParamRegexes)
            names.emplace_back(rule.pattern);
        providerNames_.addList(names);
    }
    providerIndex_.build(urlPatterns);
    groupStamp_.assign(groups.size(), 0);
    groupMatched_.assign(groups.size(), 0);
    stamp_ = 0;
    nameState_.valid = false;
}

void RulesEngine::fallbackRulesChanged() {
    fallbackNamesStale_ = true;
    nameState_.valid = false;
}

bool RulesEngine::prepareName(std::string_view name) const {
    if (fallbackNamesStale_) {
        fallbackNames_.clear();
        std::vector<std::string_view> patterns;
        patterns.reserve(fallbackRules_.size());
        for (const auto& rule : fallbackRules_) {
            // Every built-in and custom expression is "^" + pattern + "$"; the index wants the middle.
            std::string_view pattern = rule.regex.pattern();
            if (pattern.size() >= 2 && pattern.front() == '^' && pattern.back() == '$') {
                pattern = pattern.substr(1, pattern.size() - 2);
            } else {
                pattern = "(";  // never happens; a pattern the index cannot read keeps its expression
            }
            patterns.push_back(pattern);
        }
        fallbackNames_.addList(patterns);
        fallbackNamesStale_ = false;
        nameState_.valid = false;
    }
    if (nameState_.valid && nameState_.name == name) return nameState_.indexable;
    nameState_.valid = true;
    nameState_.name.assign(name);
    nameState_.indexable = NameRuleIndex::prepare(name, nameState_.lower);
    nameState_.providerHits = nameState_.indexable ? providerNames_.wordHits(nameState_.lower) : nullptr;
    nameState_.fallbackHits = nameState_.indexable ? fallbackNames_.wordHits(nameState_.lower) : nullptr;
    return nameState_.indexable;
}

std::size_t RulesEngine::providerNumber(const CompiledProvider& provider) const {
    if (compiledProviders_.empty() || &provider < compiledProviders_.data() ||
        &provider >= compiledProviders_.data() + compiledProviders_.size()) {
        return static_cast<std::size_t>(-1);
    }
    return static_cast<std::size_t>(&provider - compiledProviders_.data());
}

// --- Questions

std::vector<const CompiledProvider*> RulesEngine::matchingProviders(std::string_view url) const {
    std::vector<const CompiledProvider*> matching;
    matchingProviders(url, matching);
    return matching;
}

void RulesEngine::matchingProviders(std::string_view url, std::vector<const CompiledProvider*>& out) const {
    out.clear();
    providerIndex_.candidates(folded(url), candidates_);
    if (++stamp_ == 0) {
        std::fill(groupStamp_.begin(), groupStamp_.end(), 0);
        stamp_ = 1;
    }
    for (const std::uint32_t index : candidates_) {
        const CompiledProvider& provider = compiledProviders_[index];
        const RuleCategory* category = firstCategory(provider.category);
        if (category != nullptr && !category->isEnabled()) continue;
        const std::uint32_t group = urlPatternGroup_[index];
        if (groupStamp_[group] != stamp_) {
            groupStamp_[group] = stamp_;
            groupMatched_[group] = provider.urlRegex.search(url) ? 1 : 0;
        }
        if (groupMatched_[group] != 0) out.push_back(&provider);
    }
}

bool RulesEngine::isCategoryEnabled(RuleCategoryType type) const {
    const RuleCategory* category = firstCategory(type);
    return category == nullptr || category->isEnabled();
}

bool RulesEngine::isRuleEnabled(std::string_view ruleID, RuleCategoryType type) const {
    const RuleCategory* category = firstCategory(type);
    if (category == nullptr) return true;
    if (!category->isEnabled()) return false;
    const RuleEntry* rule = category->firstRule(ruleID);
    return rule == nullptr || rule->isEnabled();
}

const std::string& RulesEngine::folded(std::string_view text) const {
    // The same link is asked about many times in a row (providers, exceptions, path rules), so the
    // last folding is kept; comparing the bytes is far cheaper than folding them again.
    if (!foldedValid_ || text != foldedSource_) {
        foldedSource_.assign(text);
        foldedText_.clear();
        RulePrefilter::foldFullyInto(text, foldedText_);
        foldedValid_ = true;
    }
    return foldedText_;
}

bool RulesEngine::isException(std::string_view url, const CompiledProvider& provider) const {
    const std::size_t count = provider.exceptionRegexes.size();
    if (count == 0) return false;
    const std::string& foldedURL = folded(url);
    for (std::size_t i = 0; i < count; ++i) {
        if (provider.exceptionPrefilters[i].mayMatch(url, foldedURL) && provider.exceptionRegexes[i].search(url))
            return true;
    }
    return false;
}

bool RulesEngine::paramRuleEnabled(const CompiledProvider& provider, const CompiledPattern& rule,
                                   bool isReferral) const {
    if (isReferral) {
        scratchID_.assign("Referral Marketing:");
        scratchID_ += rule.pattern;
        return isRuleEnabled(scratchID_, RuleCategoryType::referralMarketing);
    }
    scratchID_.assign(rawValue(provider.category));
    scratchID_ += ':';
    scratchID_ += rule.pattern;
    return isRuleEnabled(scratchID_, provider.category);
}

const CompiledPattern* RulesEngine::strippingParamRule(std::string_view name, const CompiledProvider& provider,
                                                       bool& isReferral) const {
    isReferral = false;
    const std::size_t number = providerNumber(provider);
    if (number < compiledProviders_.size() && prepareName(name)) {
        providerNames_.lookup(number, nameState_.providerHits, nameState_.lower, literalHits_, regexCandidates_);
        const std::size_t paramCount = provider.paramRegexes.size();
        const auto ruleAt = [&](std::uint32_t number) -> const CompiledPattern& {
            return number >= paramCount ? provider.referralParamRegexes[number - paramCount]
                                        : provider.paramRegexes[number];
        };
        const auto found = firstInRuleOrder(literalHits_, regexCandidates_, [&](std::uint32_t number, bool certain) {
            const CompiledPattern& rule = ruleAt(number);
            return (certain || rule.regex.search(name)) && paramRuleEnabled(provider, rule, number >= paramCount);
        });
        if (!found) return nullptr;
        isReferral = *found >= paramCount;
        return &ruleAt(*found);
    }
    for (const auto& rule : provider.paramRegexes) {
        scratchID_.assign(rawValue(provider.category));
        scratchID_ += ':';
        scratchID_ += rule.pattern;
        if (isRuleEnabled(scratchID_, provider.category) && rule.regex.search(name)) return &rule;
    }
    for (const auto& rule : provider.referralParamRegexes) {
        scratchID_.assign("Referral Marketing:");
        scratchID_ += rule.pattern;
        if (isRuleEnabled(scratchID_, RuleCategoryType::referralMarketing) && rule.regex.search(name)) {
            isReferral = true;
            return &rule;
        }
    }
    return nullptr;
}

std::optional<std::string> RulesEngine::shouldStripParam(std::string_view name,
                                                         const CompiledProvider& provider) const {
    bool isReferral = false;
    const CompiledPattern* rule = strippingParamRule(name, provider, isReferral);
    if (rule == nullptr) return std::nullopt;
    std::string prefix(isReferral ? rawValue(RuleCategoryType::referralMarketing) : rawValue(provider.category));
    return prefix + ":" + rule->pattern;
}

bool RulesEngine::hasStripParam(std::string_view name, const CompiledProvider& provider) const {
    bool isReferral = false;
    return strippingParamRule(name, provider, isReferral) != nullptr;
}

const FallbackRule* RulesEngine::strippingFallbackRule(std::string_view name) const {
    if (prepareName(name)) {
        fallbackNames_.lookup(0, nameState_.fallbackHits, nameState_.lower, literalHits_, regexCandidates_);
        const auto found = firstInRuleOrder(literalHits_, regexCandidates_, [&](std::uint32_t number, bool certain) {
            const FallbackRule& rule = fallbackRules_[number];
            return (certain || rule.regex.search(name)) && isCategoryEnabled(rule.category) &&
                   isRuleEnabled(rule.ruleID, rule.category);
        });
        return found ? &fallbackRules_[*found] : nullptr;
    }
    for (const auto& rule : fallbackRules_) {
        if (isCategoryEnabled(rule.category) && isRuleEnabled(rule.ruleID, rule.category) && rule.regex.search(name)) {
            return &rule;
        }
    }
    return nullptr;
}

std::optional<std::pair<std::string, RuleCategoryType>> RulesEngine::shouldStripParamFallback(
    std::string_view name) const {
    const FallbackRule* rule = strippingFallbackRule(name);
    if (rule == nullptr) return std::nullopt;
    return std::make_pair(rule->ruleID, rule->category);
}

bool RulesEngine::hasStripParamFallback(std::string_view name) const {
    return strippingFallbackRule(name) != nullptr;
}

std::optional<std::string> RulesEngine::extractRedirection(std::string_view url,
                                                           const CompiledProvider& provider) const {
    // Individual redirect rules have switches in the tree, but only the category switch counts here.
    if (!isCategoryEnabled(RuleCategoryType::redirectUnwrapping)) return std::nullopt;
    for (const auto& rule : provider.redirectionRegexes) {
        if (rule.regex.captureGroupCount() == 0 || !rule.prefilter.mayMatch(url, folded(url))) continue;
        auto match = rule.regex.firstMatch(url);
        if (!match || match->groups.empty() || !match->groups[0]) continue;
        const TextRange range = *match->groups[0];
        if (range.begin > range.end || range.end > url.size()) continue;
        std::string_view raw = url.substr(range.begin, range.end - range.begin);
        std::string target = text::percentDecode(raw).value_or(std::string(raw));
        if (startsWithIgnoringAsciiCase(target, "http://") || startsWithIgnoringAsciiCase(target, "https://")) {
            return target;
        }
    }
    return std::nullopt;
}

bool RulesEngine::rawRulesMayApply(std::string_view url, const CompiledProvider& provider) const {
    return std::any_of(provider.rawRuleRegexes.begin(), provider.rawRuleRegexes.end(),
                       [&](const CompiledPattern& rule) { return rule.prefilter.mayMatch(url, folded(url)); });
}

std::string RulesEngine::applyRawRules(std::string_view url, const CompiledProvider& provider) const {
    std::string result(url);
    for (const auto& rule : provider.rawRuleRegexes) {
        if (rule.prefilter.mayMatch(result, folded(result))) result = rule.regex.replaceAll(result, "");
    }
    return result;
}

// --- Categorisation

RuleCategoryType RulesEngine::categorize(std::string_view providerName, const Provider& provider) {
    if (!provider.redirections.empty()) return RuleCategoryType::redirectUnwrapping;
    const std::string name = text::toLower(providerName);
    if (containsAny(name, {"amazon", "aliexpress", "ebay", "shopify", "etsy", "walmart"})) {
        return RuleCategoryType::ecommerce;
    }
    if (containsAny(name, {"facebook", "twitter", "instagram", "tiktok", "linkedin", "reddit", "youtube", "snapchat",
                           "pinterest"})) {
        return RuleCategoryType::socialMedia;
    }
    // Before the analytics names: "google ad..." is advertising, any other "google" analytics.
    if (containsAny(name, {"google ad", "doubleclick", "bing", "adform", "adservice", "criteo"})) {
        return RuleCategoryType::advertising;
    }
    if (containsAny(name,
                    {"google", "analytics", "adobe", "yandex", "matomo", "piwik", "segment", "hotjar", "mixpanel"})) {
        return RuleCategoryType::analytics;
    }
    if (containsAny(name, {"mailchimp", "hubspot", "sendgrid", "constantcontact", "campaign"})) {
        return RuleCategoryType::emailMarketing;
    }
    if (!provider.referralMarketing.empty()) return RuleCategoryType::referralMarketing;
    return RuleCategoryType::analytics;
}

RuleCategoryType RulesEngine::categorizeFallbackParam(std::string_view name) {
    if (name.starts_with("utm_")) return RuleCategoryType::analytics;
    if (name == "fbclid" || name == "twclid" || name == "ttclid") return RuleCategoryType::socialMedia;
    if (name == "gclid" || name == "gclsrc" || name == "msclkid") return RuleCategoryType::advertising;
    if (name == "mc_cid" || name == "mc_eid" || name == "_hsenc" || name == "_hsmi") {
        return RuleCategoryType::emailMarketing;
    }
    return RuleCategoryType::analytics;
}

}  // namespace tessaril
