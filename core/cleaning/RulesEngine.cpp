// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RulesEngine.h"

#include "core/cleaning/RedirectTarget.h"
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
        compiled.push_back(CompiledPattern{std::move(*regex), pattern, std::move(prefilter), 0, {}});
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
                            {},
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
    return applyProviders(*clearURLsData, supplementaryData).first;
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
    return applyProviders(data, std::nullopt).first;
}

bool RulesEngine::appendSupplementaryRules(std::string_view data) {
    return applyProviders(std::nullopt, data).second;
}

bool RulesEngine::loadRuleBundle(std::string_view clearURLsData, std::optional<std::string_view> supplementaryData) {
    // A supplementary file that does not decode is passed over silently, as appending it alone is.
    return applyProviders(clearURLsData, supplementaryData).first;
}

std::pair<bool, bool> RulesEngine::applyProviders(std::optional<std::string_view> mainData,
                                                  std::optional<std::string_view> supplementaryData) {
    auto main = mainData ? ProvidersFile::decode(*mainData) : std::nullopt;
    // Only the main file's failure is worth a line; a broken supplementary file is just skipped.
    if (mainData && !main) report("Warning: Could not decode rules JSON");
    auto supplementary = supplementaryData ? ProvidersFile::decode(*supplementaryData) : std::nullopt;
    if (!main && !supplementary) return {false, false};
    // A supplementary file without a main one goes after the providers already loaded. Both files
    // are compiled before the indexes and the tree are built, once.
    std::vector<CompiledProvider> compiled;
    if (!main) compiled = std::move(compiledProviders_);
    for (const auto* file : {&main, &supplementary}) {
        if (!*file) continue;
        compiled.reserve(compiled.size() + (*file)->providers.size());
        for (const auto& [name, provider] : (*file)->providers) {
            if (auto compiledProvider = compileProvider(name, provider))
                compiled.push_back(std::move(*compiledProvider));
        }
    }
    compiledProviders_ = std::move(compiled);
    buildProviderIndexes();
    rebuild();
    return {main.has_value(), supplementary.has_value()};
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
    std::unordered_map<std::string_view, std::uint32_t> groups;
    routes_.clear();
    providerNames_.clear();
    fragmentIndex_.clear();
    // The URL pattern groups first, so that group i is provider i's.
    for (const auto& provider : compiledProviders_) {
        const std::string_view pattern = provider.urlRegex.pattern();
        auto [group, added] = groups.try_emplace(pattern, static_cast<std::uint32_t>(groups.size()));
        Route& route = routes_.emplace_back();
        route.filter = fragmentIndex_.add(RulePrefilter::fromPattern(pattern, true));
        route.pattern = group->second;
        route.category = provider.category;
        (void)fragmentIndex_.addGroup(std::span(&route.filter, 1));
    }
    std::vector<std::string_view> names;
    std::vector<std::uint32_t> filters;
    const auto addGroup = [&](std::vector<CompiledPattern>& rules) {
        filters.clear();
        for (auto& rule : rules) {
            rule.filter = fragmentIndex_.add(rule.prefilter);
            filters.push_back(rule.filter);
        }
        return fragmentIndex_.addGroup(filters);
    };
    for (auto& provider : compiledProviders_) {
        names.clear();
        for (const auto& rule : provider.paramRegexes)
            names.emplace_back(rule.pattern);
        for (const auto& rule : provider.referralParamRegexes)
            names.emplace_back(rule.pattern);
        providerNames_.addList(names);
        provider.exceptionFilters.clear();
        for (const auto& filter : provider.exceptionPrefilters)
            provider.exceptionFilters.push_back(fragmentIndex_.add(filter));
        provider.exceptionGroup = fragmentIndex_.addGroup(provider.exceptionFilters);
    }
    // The redirection groups of all providers in one run of numbers, the path rule groups in the
    // next: a link for which no group of a run is live skips that step without visiting a provider.
    redirectionGroups_.first = fragmentIndex_.groupCount();
    for (auto& provider : compiledProviders_)
        provider.redirectionGroup = addGroup(provider.redirectionRegexes);
    redirectionGroups_.second = rawRuleGroups_.first = fragmentIndex_.groupCount();
    for (auto& provider : compiledProviders_)
        provider.rawRuleGroup = addGroup(provider.rawRuleRegexes);
    rawRuleGroups_.second = fragmentIndex_.groupCount();
    fragmentIndex_.build();
    patternAnswers_.assign(groups.size(), PatternAnswer{});
    stamp_ = 0;
    regexLists_.clear();
    for (std::uint32_t list = 0; list < compiledProviders_.size(); ++list) {
        if (providerNames_.hasExpressionRules(list)) regexLists_.push_back(list);
    }
    nameRules_.clear();
    lastNameRules_ = nullptr;
    ++generation_;
    scratchText_.clear();
    scratchScan_.generation_ = 0;
}

void RulesEngine::fallbackRulesChanged() {
    fallbackNamesStale_ = true;
    nameRules_.clear();
    lastNameRules_ = nullptr;
}

const RulesEngine::NameRules* RulesEngine::nameRules(std::string_view name) const {
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
    }
    // The cleaner asks about each name twice in a row (provider rules, then built-in ones).
    if (lastNameRules_ != nullptr && name == lastName_) return lastNameRules_;
    lastNameRules_ = nullptr;
    const std::size_t hash = std::hash<std::string_view>{}(name);
    auto* found = nameRules_.find(name, hash);
    if (found == nullptr) {
        if (!NameRuleIndex::prepare(name, lowerName_)) return nullptr;
        // Hostile input can bring any number of names; the kept answers stay bounded.
        found = &nameRules_.add(name, hash);
        computeNameRules(name, lowerName_, found->answer);
    }
    lastName_ = found->name;
    return lastNameRules_ = &found->answer;
}

void RulesEngine::computeNameRules(std::string_view name, const std::string& lowerName, NameRules& rules) const {
    // Only lists with a word hit or with expression rules can hold a rule for the name.
    const NameRuleIndex::Hits* hits = providerNames_.wordHits(lowerName);
    std::vector<std::uint32_t> lists = regexLists_;
    if (hits != nullptr) {
        for (const auto& hit : *hits)
            lists.push_back(hit.list);
        std::sort(lists.begin(), lists.end());
        lists.erase(std::unique(lists.begin(), lists.end()), lists.end());
    }
    for (const std::uint32_t list : lists) {
        const CompiledProvider& provider = compiledProviders_[list];
        const std::size_t paramCount = provider.paramRegexes.size();
        providerNames_.lookup(list, hits, lowerName, literalHits_, regexCandidates_);
        firstInRuleOrder(literalHits_, regexCandidates_, [&](std::uint32_t number, bool certain) {
            const CompiledPattern& rule = number >= paramCount ? provider.referralParamRegexes[number - paramCount]
                                                               : provider.paramRegexes[number];
            if (certain || rule.regex.search(name)) rules.providerRules.push_back({list, number});
            return false;
        });
    }
    fallbackNames_.lookup(0, fallbackNames_.wordHits(lowerName), lowerName, literalHits_, regexCandidates_);
    firstInRuleOrder(literalHits_, regexCandidates_, [&](std::uint32_t number, bool certain) {
        if (certain || fallbackRules_[number].regex.search(name)) rules.fallbackRules.push_back(number);
        return false;
    });
}

std::size_t RulesEngine::providerNumber(const CompiledProvider& provider) const {
    if (compiledProviders_.empty() || &provider < compiledProviders_.data() ||
        &provider >= compiledProviders_.data() + compiledProviders_.size()) {
        return static_cast<std::size_t>(-1);
    }
    return static_cast<std::size_t>(&provider - compiledProviders_.data());
}

// --- Questions

void RulesEngine::scan(std::string_view text, LinkScan& scan) const {
    scan.text_ = text;
    fragmentIndex_.findFragments(scan);
    scan.exceptionAnswers_.assign(compiledProviders_.size(), 0);
    scan.generation_ = generation_;
}

void RulesEngine::refresh(LinkScan& scan) const {
    if (scan.generation_ != generation_) this->scan(scan.text_, scan);
}

LinkScan& RulesEngine::scratchScan(std::string_view text) const {
    // The same text is often asked about several times in a row (one question per provider), so
    // its scan is kept; comparing the bytes is far cheaper than scanning them again.
    if (scratchScan_.generation_ != generation_ || text != scratchText_) {
        scratchText_.assign(text);
        scan(scratchText_, scratchScan_);
    }
    return scratchScan_;
}

std::vector<const CompiledProvider*> RulesEngine::matchingProviders(std::string_view url) const {
    std::vector<const CompiledProvider*> matching;
    matchingProviders(scratchScan(url), matching);
    return matching;
}

void RulesEngine::matchingProviders(LinkScan& scan, std::vector<const CompiledProvider*>& out) const {
    out.clear();
    refresh(scan);
    if (++stamp_ == 0) {
        std::fill(patternAnswers_.begin(), patternAnswers_.end(), PatternAnswer{});
        stamp_ = 1;
    }
    const auto providerCount = static_cast<std::uint32_t>(routes_.size());
    FragmentIndex::forEachLive(0, providerCount, scan, [&](std::uint32_t index) {
        const Route& route = routes_[index];
        // The same pattern text gives the same filter, so both are answered once per link.
        PatternAnswer& answer = patternAnswers_[route.pattern];
        if (answer.stamp != stamp_) {
            answer.stamp = stamp_;
            answer.matched =
                fragmentIndex_.passes(route.filter, scan) && compiledProviders_[index].urlRegex.search(scan.text());
        }
        if (answer.matched && isCategoryEnabled(route.category)) out.push_back(&compiledProviders_[index]);
    });
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

bool RulesEngine::isException(std::string_view url, const CompiledProvider& provider) const {
    return isException(scratchScan(url), provider);
}

bool RulesEngine::exceptionCovers(LinkScan& scan, const CompiledProvider& provider) const {
    const std::size_t count = provider.exceptionRegexes.size();
    refresh(scan);
    if (!FragmentIndex::live(provider.exceptionGroup, scan)) return false;
    const std::size_t number = providerNumber(provider);
    std::uint8_t* answer = number < scan.exceptionAnswers_.size() ? &scan.exceptionAnswers_[number] : nullptr;
    if (answer != nullptr && *answer != 0) return *answer == 2;
    bool found = false;
    for (std::size_t i = 0; i < count && !found; ++i) {
        found = fragmentIndex_.passes(provider.exceptionFilters[i], scan) &&
                provider.exceptionRegexes[i].search(scan.text());
    }
    if (answer != nullptr) *answer = found ? 2 : 1;
    return found;
}

bool RulesEngine::paramRuleEnabled(const CompiledProvider& provider, const CompiledPattern& rule,
                                   bool isReferral) const {
    const RuleCategoryType type = isReferral ? RuleCategoryType::referralMarketing : provider.category;
    const RuleCategory* category = firstCategory(type);
    if (category == nullptr) return true;
    if (!category->isEnabled()) return false;
    // Asked for every parameter a rule matches: the entry is looked up by identifier once per
    // change of the category's rules, not each time.
    if (rule.ruleSwitch.stamp != category->indexStamp()) {
        scratchID_.assign(rawValue(type));
        scratchID_ += ':';
        scratchID_ += rule.pattern;
        rule.ruleSwitch = {category->indexStamp(), category->firstRule(scratchID_)};
    }
    return rule.ruleSwitch.entry == nullptr || rule.ruleSwitch.entry->isEnabled();
}

const CompiledPattern* RulesEngine::strippingParamRule(std::string_view name, const CompiledProvider& provider,
                                                       bool& isReferral) const {
    isReferral = false;
    const std::size_t paramCount = provider.paramRegexes.size();
    if (const std::size_t number = providerNumber(provider); number < compiledProviders_.size()) {
        if (const NameRules* rules = nameRules(name)) {
            for (const auto& hit : rules->providerRules) {
                if (hit.list != number) continue;
                isReferral = hit.rule >= paramCount;
                const CompiledPattern& rule =
                    isReferral ? provider.referralParamRegexes[hit.rule - paramCount] : provider.paramRegexes[hit.rule];
                if (paramRuleEnabled(provider, rule, isReferral)) return &rule;
            }
            isReferral = false;
            return nullptr;
        }
    }
    for (const auto& rule : provider.paramRegexes) {
        if (paramRuleEnabled(provider, rule, false) && rule.regex.search(name)) return &rule;
    }
    for (const auto& rule : provider.referralParamRegexes) {
        if (paramRuleEnabled(provider, rule, true) && rule.regex.search(name)) {
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
    return ruleID(ParamRuleMatch{&provider, rule, isReferral});
}

std::string RulesEngine::ruleID(const ParamRuleMatch& match) {
    const std::string_view category =
        rawValue(match.isReferral ? RuleCategoryType::referralMarketing : match.provider->category);
    std::string id;
    id.reserve(category.size() + 1 + match.rule->pattern.size());
    id += category;
    id += ':';
    id += match.rule->pattern;
    return id;
}

void RulesEngine::parameterProviders(LinkScan& scan, std::span<const CompiledProvider* const> matching,
                                     ProviderSet& out) const {
    out.providers_.clear();
    out.members_.assign((compiledProviders_.size() + 63) / 64, 0);
    std::size_t previous = 0;
    for (const CompiledProvider* provider : matching) {
        const std::size_t number = providerNumber(*provider);
        // Only this engine's providers, in load order, can be answered from a name's kept rules.
        if (number >= compiledProviders_.size() || (!out.providers_.empty() && number <= previous)) continue;
        if (provider->paramRegexes.empty() && provider->referralParamRegexes.empty()) continue;
        if (isException(scan, *provider)) continue;
        out.providers_.push_back(provider);
        out.members_[number / 64] |= std::uint64_t{1} << (number % 64);
        previous = number;
    }
}

std::optional<RulesEngine::ParamRuleMatch> RulesEngine::firstStrippingRule(std::string_view name,
                                                                           const ProviderSet& providers) const {
    const NameRules* rules = nameRules(name);
    if (rules == nullptr) {
        for (const CompiledProvider* provider : providers.providers()) {
            bool isReferral = false;
            if (const CompiledPattern* rule = strippingParamRule(name, *provider, isReferral))
                return ParamRuleMatch{provider, rule, isReferral};
        }
        return std::nullopt;
    }
    // The name's rules come in provider order, and so do the set's providers: the first enabled rule
    // of a provider in the set is the answer.
    for (const auto& hit : rules->providerRules) {
        if (!providers.contains(hit.list)) continue;
        const CompiledProvider& provider = compiledProviders_[hit.list];
        const std::size_t paramCount = provider.paramRegexes.size();
        const bool isReferral = hit.rule >= paramCount;
        const CompiledPattern& rule =
            isReferral ? provider.referralParamRegexes[hit.rule - paramCount] : provider.paramRegexes[hit.rule];
        if (paramRuleEnabled(provider, rule, isReferral)) return ParamRuleMatch{&provider, &rule, isReferral};
    }
    return std::nullopt;
}

bool RulesEngine::hasStripParam(std::string_view name, const CompiledProvider& provider) const {
    bool isReferral = false;
    return strippingParamRule(name, provider, isReferral) != nullptr;
}

const FallbackRule* RulesEngine::strippingFallbackRule(std::string_view name) const {
    const auto enabled = [this](const FallbackRule& rule) {
        return isCategoryEnabled(rule.category) && isRuleEnabled(rule.ruleID, rule.category);
    };
    if (const NameRules* rules = nameRules(name)) {
        for (const std::uint32_t number : rules->fallbackRules) {
            if (enabled(fallbackRules_[number])) return &fallbackRules_[number];
        }
        return nullptr;
    }
    for (const auto& rule : fallbackRules_) {
        if (enabled(rule) && rule.regex.search(name)) return &rule;
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
    return extractRedirection(scratchScan(url), provider);
}

std::optional<std::string> RulesEngine::extractRedirection(LinkScan& scan, const CompiledProvider& provider) const {
    // Individual redirect rules have switches in the tree, but only the category switch counts here.
    if (!isCategoryEnabled(RuleCategoryType::redirectUnwrapping)) return std::nullopt;
    refresh(scan);
    if (!FragmentIndex::live(provider.redirectionGroup, scan)) return std::nullopt;
    const std::string_view url = scan.text();
    for (const auto& rule : provider.redirectionRegexes) {
        if (rule.regex.captureGroupCount() == 0 || !fragmentIndex_.passes(rule.filter, scan)) continue;
        // Whether it matches at all is answered by the DFA, cheaper still than finding the capture.
        if (!rule.regex.search(url)) continue;
        auto match = rule.regex.firstMatch(url);
        if (!match || match->groups.empty() || !match->groups[0]) continue;
        const TextRange range = *match->groups[0];
        if (range.begin > range.end || range.end > url.size()) continue;
        if (auto target = redirectTarget(url.substr(range.begin, range.end - range.begin))) return target;
    }
    return std::nullopt;
}

std::size_t RulesEngine::nextProviderWithLiveGroup(LinkScan& scan, std::span<const CompiledProvider* const> providers,
                                                   std::size_t from, bool pathRules) const {
    const auto groups = pathRules ? rawRuleGroups_ : redirectionGroups_;
    refresh(scan);
    std::size_t next = providers.size();
    if (from >= providers.size()) return next;
    FragmentIndex::forEachLive(groups.first, groups.second, scan, [&](std::uint32_t group) {
        const CompiledProvider* provider = &compiledProviders_[group - groups.first];
        // The list is in engine order, like the groups.
        const auto found = std::lower_bound(providers.begin() + static_cast<std::ptrdiff_t>(from), providers.end(),
                                            provider, std::less<>());
        const auto at = static_cast<std::size_t>(found - providers.begin());
        if (at < next && *found == provider && (!pathRules || rawRulesMayApply(scan, *provider))) next = at;
    });
    return next;
}

std::size_t RulesEngine::nextRedirectionProvider(LinkScan& scan, std::span<const CompiledProvider* const> providers,
                                                 std::size_t from) const {
    return nextProviderWithLiveGroup(scan, providers, from, false);
}

std::size_t RulesEngine::nextPathRuleProvider(LinkScan& scan, std::span<const CompiledProvider* const> providers,
                                              std::size_t from) const {
    return nextProviderWithLiveGroup(scan, providers, from, true);
}

bool RulesEngine::rawRulesMayApply(LinkScan& scan, const CompiledProvider& provider) const {
    refresh(scan);
    if (!FragmentIndex::live(provider.rawRuleGroup, scan)) return false;
    return std::any_of(provider.rawRuleRegexes.begin(), provider.rawRuleRegexes.end(),
                       [&](const CompiledPattern& rule) { return fragmentIndex_.passes(rule.filter, scan); });
}

std::string RulesEngine::applyRawRules(std::string_view url, const CompiledProvider& provider) const {
    std::string result(url);
    for (const auto& rule : provider.rawRuleRegexes) {
        // Each cut changes the text the next rule is filtered on.
        if (fragmentIndex_.passes(rule.filter, scratchScan(result)) && rule.regex.search(result))
            result = rule.regex.replaceAll(result, "");
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
