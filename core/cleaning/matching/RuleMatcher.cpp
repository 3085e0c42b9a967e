// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/matching/RuleMatcher.h"

#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/matching/LinkMatch.h"
#include "core/foundation/ShortTextHash.h"

#include <algorithm>
#include <functional>
#include <unordered_map>

namespace tessaril {

namespace {

// The first rule, in rule order, that `accept(number, certain)` takes from the two ascending lists a
// name index gives: rules that match for certain and rules whose expression must still run. Rule
// order decides which identifier a name is reported under, so the lists are merged, not chained.
template <typename Accept>
void inRuleOrder(const std::vector<std::uint32_t>& certain, const std::vector<std::uint32_t>& candidates,
                 Accept accept) {
    std::size_t c = 0;
    std::size_t k = 0;
    while (c < certain.size() || k < candidates.size()) {
        const bool takeCertain = k >= candidates.size() || (c < certain.size() && certain[c] < candidates[k]);
        accept(takeCertain ? certain[c++] : candidates[k++], takeCertain);
    }
}

// Every built-in and custom expression is "^" + pattern + "$"; the name index wants the middle.
std::string_view unanchored(std::string_view pattern) {
    if (pattern.size() >= 2 && pattern.front() == '^' && pattern.back() == '$')
        return pattern.substr(1, pattern.size() - 2);
    return "(";  // never happens; a pattern the index cannot read keeps its expression
}

}  // namespace

RuleMatcher::RuleMatcher(std::span<const CompiledProvider> providers, std::span<const FallbackRule> fallbackRules,
                         std::span<const std::shared_ptr<RuleCategory>> categories, const KnownPrefilters& prefilters)
    : providers_(providers), fallbackRules_(fallbackRules) {
    index_.resize(providers_.size());
    providerAddresses_.reserve(providers_.size());
    for (const CompiledProvider& provider : providers_)
        providerAddresses_.push_back(&provider);
    for (std::size_t i = 0; i < providers_.size(); ++i) {
        const CompiledProvider& provider = providers_[i];
        index_[i].ruleEntries.assign(provider.paramRegexes.size() + provider.referralParamRegexes.size(), nullptr);
        index_[i].hasParamRules = !index_[i].ruleEntries.empty();
        index_[i].hasExceptions = !provider.exceptionRegexes.empty();
    }
    fallbackEntries_.assign(fallbackRules_.size(), nullptr);
    attach(categories);
    buildFragmentIndex(prefilters);
    buildNameIndexes(prefilters);
    buildKeptNames();
}

void RuleMatcher::attach(std::span<const std::shared_ptr<RuleCategory>> categories) {
    categories_.fill(nullptr);
    for (const auto& category : categories) {
        auto& slot = categories_[static_cast<std::size_t>(category->type())];
        if (slot == nullptr) slot = category.get();
    }
    // A rule answers to the first entry of its category listed under its identifier. The identifier
    // is put together in one buffer for all the thousands of rules. The lists keep their size, so a
    // link being matched never sees one move.
    std::string id;
    auto entry = [this, &id](RuleCategoryType type, std::string_view pattern) -> const RuleEntry* {
        const RuleCategory* category = categories_[static_cast<std::size_t>(type)];
        if (category == nullptr) return nullptr;
        id.assign(rawValue(type)).append(":").append(pattern);
        return category->firstRule(id);
    };
    for (std::size_t i = 0; i < providers_.size(); ++i) {
        const CompiledProvider& provider = providers_[i];
        auto entries = index_[i].ruleEntries.begin();
        for (const auto& rule : provider.paramRegexes)
            *entries++ = entry(provider.category, rule.pattern);
        for (const auto& rule : provider.referralParamRegexes)
            *entries++ = entry(RuleCategoryType::referralMarketing, rule.pattern);
    }
    for (std::size_t i = 0; i < fallbackRules_.size(); ++i) {
        const RuleCategory* category = categories_[static_cast<std::size_t>(fallbackRules_[i].category)];
        fallbackEntries_[i] = category == nullptr ? nullptr : category->firstRule(fallbackRules_[i].ruleID);
    }
}

void RuleMatcher::buildKeptNames() {
    std::string keptNames;
    for (const auto& provider : providers_) {
        if (provider.keptParamRegexes.empty()) continue;
        keepingProviders_.push_back(&provider);
        for (const auto& kept : provider.keptParamRegexes)
            keptNames += (keptNames.empty() ? "" : "|") + ("(?:" + kept.pattern + ")");
    }
    if (keptNames.empty()) return;
    keptNames_ = Regex::compile("^(?:" + keptNames + ")$", true);
    if (keptNames_) keptNames_->setWorkLimit(RulesEngine::matchWorkLimit);
}

RuleMatcher::UrlShape RuleMatcher::urlShapeOf(std::string_view pattern) {
    if (pattern == ".*") return UrlShape::anyText;
    if (pattern == "^https?:\\/\\/") return UrlShape::webScheme;
    return UrlShape::general;
}

bool RuleMatcher::plainlyMatches(UrlShape shape, std::string_view text) {
    // The expression engine takes texts up to this size; a longer one is left to it.
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    switch (shape) {
        case UrlShape::anyText:
            return true;
        case UrlShape::webScheme:
            return text.starts_with("https://") || text.starts_with("http://");
        case UrlShape::general:
            break;
    }
    return false;
}

void RuleMatcher::buildFragmentIndex(const KnownPrefilters& prefilters) {
    std::unordered_map<std::string_view, std::uint32_t> patterns;
    patterns.reserve(providers_.size());
    // The URL pattern groups first, so that group i is provider i's.
    std::size_t runHead = providers_.size();
    for (std::size_t i = 0; i < providers_.size(); ++i) {
        const std::string_view pattern = providers_[i].urlRegex.pattern();
        ProviderIndex& index = index_[i];
        if (const auto shape = HostIndex::read(pattern)) {
            // Found by its host; its group stays empty, so the fragment index never offers it.
            hosts_.add(*shape, static_cast<std::uint32_t>(i));
            index.urlFilter = kHostKeyed;
            (void)fragmentIndex_.addGroup({});
            runHead = providers_.size();
            continue;
        }
        index.urlPattern = patterns.try_emplace(pattern, static_cast<std::uint32_t>(patterns.size())).first->second;
        index.urlShape = urlShapeOf(pattern);
        if (runHead < i && index_[runHead].urlPattern == index.urlPattern) {
            index.urlFilter = index_[runHead].urlFilter;
            index_[runHead].runEnd = static_cast<std::uint32_t>(i + 1);
            (void)fragmentIndex_.addGroup({});
            continue;
        }
        runHead = i;
        index.runEnd = static_cast<std::uint32_t>(i + 1);
        if (auto tail = SiteTailPattern::read(pattern)) {
            index.siteTail = static_cast<std::uint32_t>(siteTails_.size());
            siteTails_.push_back(std::move(*tail));
        }
        index.urlFilter = fragmentIndex_.add(pattern, prefilters);
        (void)fragmentIndex_.addGroup(std::span(&index.urlFilter, 1));
    }
    urlPatternCount_ = patterns.size();
    for (std::uint32_t head = 0; head < providers_.size(); ++head) {
        ProviderIndex& index = index_[head];
        for (std::uint32_t member = head; member < index.runEnd; ++member) {
            const ProviderIndex& at = index_[member];
            auto& categories = index.runCategories;
            if (std::find(categories.begin(), categories.end(), providers_[member].category) == categories.end())
                categories.push_back(providers_[member].category);
            if (!at.hasParamRules) continue;
            if (at.hasExceptions) {
                index.runMembersWithExceptions.push_back(member);
                continue;
            }
            if (index.runParamWords.empty() || index.runParamWords.back().first != member / 64)
                index.runParamWords.emplace_back(member / 64, 0);
            index.runParamWords.back().second |= std::uint64_t{1} << (member % 64);
        }
    }
    const auto addGroup = [this, &prefilters](const std::vector<CompiledPattern>& rules,
                                              std::vector<std::uint32_t>& filters) {
        for (const auto& rule : rules)
            filters.push_back(fragmentIndex_.add(rule.pattern, prefilters));
        return fragmentIndex_.addGroup(filters);
    };
    for (std::size_t i = 0; i < providers_.size(); ++i) {
        ProviderIndex& index = index_[i];
        for (const auto& regex : providers_[i].exceptionRegexes)
            index.exceptionFilters.push_back(fragmentIndex_.add(regex.pattern(), prefilters));
        index.exceptionGroup = fragmentIndex_.addGroup(index.exceptionFilters);
    }
    // The redirection groups of all providers in one run of numbers, the path rule groups in the
    // next: a link for which no group of a run is live skips that step without visiting a provider.
    // A provider's encoded redirections follow its plain ones in their group, so a provider without
    // any costs nothing more.
    redirectionGroups_.first = fragmentIndex_.groupCount();
    for (std::size_t i = 0; i < providers_.size(); ++i) {
        std::vector<std::uint32_t>& filters = index_[i].redirectionFilters;
        for (const auto& rule : providers_[i].redirectionRegexes)
            filters.push_back(fragmentIndex_.add(rule.pattern, prefilters));
        for (const auto& rule : providers_[i].encodedRedirectionRegexes)
            filters.push_back(fragmentIndex_.add(rule.pattern, prefilters));
        index_[i].redirectionGroup = fragmentIndex_.addGroup(filters);
    }
    redirectionGroups_.second = rawRuleGroups_.first = fragmentIndex_.groupCount();
    for (std::size_t i = 0; i < providers_.size(); ++i)
        index_[i].rawRuleGroup = addGroup(providers_[i].rawRuleRegexes, index_[i].rawRuleFilters);
    rawRuleGroups_.second = fragmentIndex_.groupCount();
    // The list's every-site providers bring many exceptions each; most links meet none of them.
    const auto addBit = [](std::vector<std::pair<std::uint32_t, std::uint64_t>>& words, std::uint32_t member) {
        if (words.empty() || words.back().first != member / 64) words.emplace_back(member / 64, 0);
        words.back().second |= std::uint64_t{1} << (member % 64);
    };
    std::vector<std::uint32_t> runExceptions;
    for (ProviderIndex& index : index_) {
        if (index.runMembersWithExceptions.empty()) continue;
        runExceptions.clear();
        for (const std::uint32_t member : index.runMembersWithExceptions) {
            const auto& filters = index_[member].exceptionFilters;
            runExceptions.insert(runExceptions.end(), filters.begin(), filters.end());
            addBit(index.runExceptionWords, member);
        }
        index.runExceptionGroup = fragmentIndex_.addGroup(runExceptions);
    }
    fragmentIndex_.build();
}

void RuleMatcher::buildNameIndexes(const KnownPrefilters& prefilters) {
    std::vector<std::string_view> names;
    std::vector<std::uint32_t> expressionLists;
    std::size_t ruleCount = 0;
    for (const CompiledProvider& provider : providers_)
        ruleCount += provider.paramRegexes.size() + provider.referralParamRegexes.size();
    providerNames_.reserveWords(ruleCount);
    for (std::uint32_t list = 0; list < providers_.size(); ++list) {
        const CompiledProvider& provider = providers_[list];
        names.clear();
        for (const auto& rule : provider.paramRegexes)
            names.emplace_back(rule.pattern);
        for (const auto& rule : provider.referralParamRegexes)
            names.emplace_back(rule.pattern);
        providerNames_.addList(names, prefilters);
        if (!providerNames_.hasExpressionRules(list)) continue;
        // A site's expression rules matter only on links to that site: running their filters for
        // every new name cost more than all other name work with the filter list's sites.
        if (index_[list].urlFilter == kHostKeyed) {
            if (askedPerLink_.size() <= list / 64) askedPerLink_.resize(list / 64 + 1, 0);
            askedPerLink_[list / 64] |= std::uint64_t{1} << (list % 64);
        } else {
            expressionLists.push_back(list);
        }
    }
    providerNames_.groupWordHits();
    providerNames_.indexExpressions(expressionLists);
    names.clear();
    for (const auto& rule : fallbackRules_)
        names.push_back(unanchored(rule.regex.pattern()));
    fallbackNames_.addList(names, prefilters);
    fallbackNames_.groupWordHits();
    const std::uint32_t onlyList = 0;
    fallbackNames_.indexExpressions(std::span(&onlyList, 1));
}

void RuleMatcher::match(std::string_view text, LinkMatch& link) const {
    link.matcher_ = this;
    link.providers_.clear();
    link.pathFrom_ = 0;
    link.parameterProvidersFound_ = false;
    link.setText(text);
    link.patternAnswers_.assign(urlPatternCount_, 0);
    link.siteTailStarts_.reset();
    hosts_.find(text, link.hostHits_, link.hostText_);
    // `certain`: the host index has answered for the pattern; otherwise its filter, then its expression.
    // Inlined at both calls: about fourteen a link, each of which otherwise saves and restores six
    // registers and reloads what it captured.
    const auto consider = [&](std::uint32_t number, bool certain) __attribute__((always_inline)) {
        const ProviderIndex& index = index_[number];
        if (index.urlFilter == kHostKeyed) {
            if ((certain || providers_[number].urlRegex.search(text)) && isCategoryEnabled(providers_[number].category))
                link.providers_.push_back(&providers_[number]);
            return;
        }
        // The same pattern text gives the same filter, so both are answered once per link.
        std::uint8_t& answer = link.patternAnswers_[index.urlPattern];
        if (answer == 0) {
            answer = plainlyMatches(index.urlShape, text) || (fragmentIndex_.passes(index.urlFilter, link.scan_) &&
                                                              urlPatternMatches(number, text, link.siteTailStarts_))
                         ? 2
                         : 1;
        }
        if (answer != 2) return;
        const auto& categories = index.runCategories;
        if (std::all_of(categories.begin(), categories.end(), [this](auto type) { return isCategoryEnabled(type); })) {
            link.providers_.insert(link.providers_.end(), providerAddresses_.begin() + number,
                                   providerAddresses_.begin() + index.runEnd);
            return;
        }
        for (std::uint32_t member = number; member < index.runEnd; ++member) {
            if (isCategoryEnabled(providers_[member].category)) link.providers_.push_back(&providers_[member]);
        }
    };
    // Both give providers in load order; merged, so is the list.
    auto host = link.hostHits_.begin();
    const auto providerCount = static_cast<std::uint32_t>(providers_.size());
    FragmentIndex::forEachLive(0, providerCount, link.scan_, [&](std::uint32_t number) {
        for (; host != link.hostHits_.end() && host->provider < number; ++host)
            consider(host->provider, host->certain);
        consider(number, false);
    });
    for (; host != link.hostHits_.end(); ++host)
        consider(host->provider, host->certain);
}

bool RuleMatcher::urlPatternMatches(std::uint32_t number, std::string_view text,
                                    SiteTailPattern::Starts& starts) const {
    if (const std::uint32_t tail = index_[number].siteTail; tail != kNoSiteTail) {
        const SiteTailPattern::Answer answer = siteTails_[tail].match(text, starts);
        if (answer != SiteTailPattern::Answer::unknown) return answer == SiteTailPattern::Answer::yes;
    }
    return providers_[number].urlRegex.search(text);
}

bool RuleMatcher::paramRuleEnabled(std::size_t provider, std::size_t rule) const {
    const CompiledProvider& compiled = providers_[provider];
    const bool isReferral = rule >= compiled.paramRegexes.size();
    if (!isCategoryEnabled(isReferral ? RuleCategoryType::referralMarketing : compiled.category)) return false;
    const RuleEntry* entry = index_[provider].ruleEntries[rule];
    return entry == nullptr || entry->isEnabled();
}

bool RuleMatcher::fallbackRuleEnabled(std::size_t rule) const {
    if (!isCategoryEnabled(fallbackRules_[rule].category)) return false;
    const RuleEntry* entry = fallbackEntries_[rule];
    return entry == nullptr || entry->isEnabled();
}

const RuleMatcher::NameRules* RuleMatcher::nameRules(std::string_view name) const {
    const std::size_t hash = shortTextHash(name);
    auto* found = nameRules_.find(name, hash);
    if (found == nullptr) {
        if (!NameRuleIndex::prepare(name, lowerName_)) return nullptr;
        // Hostile input can bring any number of names; the kept answers stay bounded.
        found = &nameRules_.add(name, hash);
        computeNameRules(name, lowerName_, found->answer);
    }
    return &found->answer;
}

void RuleMatcher::computeNameRules(std::string_view name, const std::string& lowerName, NameRules& rules) const {
    // Only lists with a word hit or an expression rule whose filter the name passes can hold a rule
    // for it. Both sequences are in (list, rule) order, so they are merged list by list.
    const std::span<const NameRuleIndex::Hit> words = providerNames_.wordHits(lowerName);
    providerNames_.expressionHits(lowerName, expressionHits_);
    auto word = words.begin();
    auto expression = expressionHits_.begin();
    while (word != words.end() || expression != expressionHits_.end()) {
        const std::uint32_t list = std::min(word == words.end() ? UINT32_MAX : word->list,
                                            expression == expressionHits_.end() ? UINT32_MAX : expression->list);
        literalHits_.clear();
        regexCandidates_.clear();
        for (; word != words.end() && word->list == list; ++word) {
            if (literalHits_.empty() || literalHits_.back() != word->rule) literalHits_.push_back(word->rule);
        }
        for (; expression != expressionHits_.end() && expression->list == list; ++expression)
            regexCandidates_.push_back(expression->rule);
        if (isAskedPerLink(list)) continue;
        const CompiledProvider& provider = providers_[list];
        const std::size_t paramCount = provider.paramRegexes.size();
        inRuleOrder(literalHits_, regexCandidates_, [&](std::uint32_t number, bool certain) {
            const CompiledPattern& rule = number >= paramCount ? provider.referralParamRegexes[number - paramCount]
                                                               : provider.paramRegexes[number];
            if (certain || rule.regex.search(name)) rules.providerRules.push_back({list, number});
        });
    }
    literalHits_.clear();
    for (const auto& hit : fallbackNames_.wordHits(lowerName)) {
        if (literalHits_.empty() || literalHits_.back() != hit.rule) literalHits_.push_back(hit.rule);
    }
    fallbackNames_.expressionHits(lowerName, expressionHits_);
    regexCandidates_.clear();
    for (const auto& hit : expressionHits_)
        regexCandidates_.push_back(hit.rule);
    inRuleOrder(literalHits_, regexCandidates_, [&](std::uint32_t number, bool certain) {
        if (certain || fallbackRules_[number].regex.search(name)) rules.fallbackRules.push_back(number);
    });
}

}  // namespace tessaril
