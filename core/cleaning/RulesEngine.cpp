// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/RulesEngine.h"

#include "core/cleaning/matching/HostIndex.h"
#include "core/cleaning/matching/NameRuleIndex.h"
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

// How a rule file's patterns are read: `checked` when the build has compiled every one of them
// (ResourceBundle::isCheckedRuleFile), so that each compiles on first use instead of being checked
// here; a third of the tool's start-up went to checking the shipped rules' patterns again.
enum class Patterns { unchecked, checked };

// "^" + pattern + "$" in one allocation: thousands of name rules are anchored at every load.
std::string anchoredPattern(std::string_view pattern) {
    std::string anchored;
    anchored.reserve(pattern.size() + 2);
    anchored += '^';
    anchored += pattern;
    anchored += '$';
    return anchored;
}

// The expression of `pattern`, or nothing when it does not compile. The anchors of a name rule are
// plain text around the pattern, so with a top-level alternation only the first alternative is tied
// to the start and the last to the end, as the rule files expect.
std::optional<Regex> loadPattern(const std::string& pattern, bool anchored, Patterns patterns) {
    std::optional<Regex> regex;
    if (patterns == Patterns::checked) {
        regex = Regex::deferred(anchored ? anchoredPattern(pattern) : pattern, true);
    } else if (anchored && NameRuleIndex::literalExpansion(pattern)) {
        // Most names are plain words, which the name index answers without an expression; theirs
        // is compiled only if a name outside printable ASCII ever needs it. The index's grammar
        // is a subset of ICU's, so the pattern is known to compile.
        regex = Regex::deferred(anchoredPattern(pattern), true);
    } else {
        regex = Regex::compile(anchored ? anchoredPattern(pattern) : pattern, true);
    }
    if (regex) regex->setWorkLimit(RulesEngine::matchWorkLimit);
    return regex;
}

// An unanchored pattern whose text is kept nowhere else: a checked one moves into its Regex.
std::optional<Regex> loadOwnedPattern(std::string&& pattern, Patterns patterns) {
    if (patterns != Patterns::checked) return loadPattern(pattern, false, patterns);
    Regex regex = Regex::deferred(std::move(pattern), true);
    regex.setWorkLimit(RulesEngine::matchWorkLimit);
    return regex;
}

// Takes the patterns over: each text moves into its compiled pattern instead of being copied.
std::vector<CompiledPattern> compilePatterns(std::vector<std::string>&& patterns, bool anchored, Patterns checked) {
    std::vector<CompiledPattern> compiled;
    compiled.reserve(patterns.size());
    for (auto& pattern : patterns) {
        if (auto regex = loadPattern(pattern, anchored, checked))
            compiled.push_back(CompiledPattern{std::move(*regex), std::move(pattern)});
    }
    return compiled;
}

// Takes the provider over (a file's providers are decoded only to be compiled) and appends it to
// `compiled`: moved once, where an optional returned and then pushed moved it twice (the second move
// and its emptied husk cost about 170 instructions a provider, 1,370 of them at every start). False
// when its URL pattern does not compile.
bool compileProvider(std::vector<CompiledProvider>& compiled, std::string name, Provider&& provider, Patterns checked) {
    // The host index answers for a pattern that names one site, from a grammar that ICU accepts; its
    // expression is compiled only if a test or an unusual link asks for it.
    const auto shape = checked == Patterns::checked ? std::nullopt : HostIndex::read(provider.urlPattern);
    auto urlRegex = shape && shape->exact ? std::optional<Regex>(Regex::deferred(std::move(provider.urlPattern), true))
                                          : loadOwnedPattern(std::move(provider.urlPattern), checked);
    if (!urlRegex) return false;
    urlRegex->setWorkLimit(RulesEngine::matchWorkLimit);
    std::vector<Regex> exceptions;
    exceptions.reserve(provider.exceptions.size());
    for (auto& pattern : provider.exceptions) {
        if (auto regex = loadOwnedPattern(std::move(pattern), checked)) exceptions.push_back(std::move(*regex));
    }
    // Categorised before the pattern texts move out of the provider.
    const RuleCategoryType category = RulesEngine::categorize(name, provider);
    std::string source = provider.source.empty() ? std::string(provider.listedSource()) : std::move(provider.source);
    auto params = compilePatterns(std::move(provider.rules), true, checked);
    auto referrals = compilePatterns(std::move(provider.referralMarketing), true, checked);
    auto rawRules = compilePatterns(std::move(provider.rawRules), false, checked);
    auto redirections = compilePatterns(std::move(provider.redirections), false, checked);
    std::vector<CompiledEncodedRedirection> encodedRedirections;
    for (auto& entry : provider.encodedRedirections) {
        if (auto regex = loadPattern(entry.pattern, false, checked))
            encodedRedirections.push_back({{std::move(*regex), std::move(entry.pattern)}, entry.encoding});
    }
    auto kept = compilePatterns(std::move(provider.keptParameters), true, checked);
    compiled.push_back(CompiledProvider{std::move(name), std::move(source), std::move(*urlRegex), std::move(exceptions),
                                        std::move(params), std::move(rawRules), std::move(redirections),
                                        std::move(encodedRedirections), std::move(referrals), category,
                                        std::move(kept)});
    return true;
}

// Whether the provider loads without dropping anything: every pattern compiles as loading reads it.
bool loadsWhole(const std::string& name, const Provider& provider) {
    std::vector<CompiledProvider> list;
    if (!compileProvider(list, name, Provider(provider), Patterns::unchecked)) return false;
    const CompiledProvider* compiled = &list.front();
    return compiled->exceptionRegexes.size() == provider.exceptions.size() &&
           compiled->paramRegexes.size() == provider.rules.size() &&
           compiled->referralParamRegexes.size() == provider.referralMarketing.size() &&
           compiled->rawRuleRegexes.size() == provider.rawRules.size() &&
           compiled->redirectionRegexes.size() == provider.redirections.size() &&
           compiled->encodedRedirectionRegexes.size() == provider.encodedRedirections.size() &&
           compiled->keptParamRegexes.size() == provider.keptParameters.size();
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

bool RulesEngine::loadsEveryPattern(std::string_view data) {
    const auto file = ProvidersFile::decode(data);
    return file && std::all_of(file->providers.begin(), file->providers.end(),
                               [](const auto& entry) { return loadsWhole(entry.first, entry.second); });
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
    const auto checked = [this](std::optional<std::string_view> data) {
        const bool isChecked = environment_.resources != nullptr && environment_.resources->isCheckedRuleFile(*data);
        return isChecked ? Patterns::checked : Patterns::unchecked;
    };
    // The build's reading of the checked files' patterns is used only with such a file loaded.
    if (main) knownPrefilters_ = {};
    for (const auto& [file, data] : {std::pair(&main, mainData), std::pair(&supplementary, supplementaryData)}) {
        if (!*file) continue;
        const Patterns patterns = checked(data);
        if (patterns == Patterns::checked)
            knownPrefilters_ = KnownPrefilters(environment_.resources->knownPrefilters());
        compiled.reserve(compiled.size() + (*file)->providers.size());
        for (auto& [name, provider] : (*file)->providers) {
            (void)compileProvider(compiled, std::move(name), std::move(provider), patterns);
        }
    }
    compiledProviders_ = std::move(compiled);
    rulesChanged();
    rebuild();
    return {main.has_value(), supplementary.has_value()};
}

void RulesEngine::rebuild() {
    buildFallbackRules();
    treeConnections_.clear();
    categories_.clear();
    categoryByType_.fill(nullptr);
    // Stored switches or custom rules change what cleaning does, so the tree that carries them is
    // made now; without either, it is left until something asks for it.
    const bool stored =
        defaults_.dataText(enabledStateKey).has_value() || defaults_.dataText(customRulesKey).has_value();
    treePending_ = !stored;
    pendingCounts_.reset();
    if (stored) {
        buildTree();
        loadStoredRuleState();
    } else {
        pendingCounts_ = defaults_.dataText(matchCountsKey);
    }
    rulesChanged();
    // Made now, so that the first link does not wait for it.
    (void)matcher();
    // Announced once the tree is complete (or known to be complete when made), so that observers
    // never see it half-built.
    categoriesChanged_.emit();
}

void RulesEngine::ensureTree() const {
    if (!treePending_) return;
    treePending_ = false;
    buildTree();
    // The switches were not stored at the load, so only the counts read then apply.
    applyPersistedState(std::nullopt, pendingCounts_);
    pendingCounts_.reset();
    matchCountLayout_.reset();
    // The matcher in use keeps answering (a link may be in the middle of its questions); it reads
    // the new tree's switches from here on.
    if (matcher_) matcher_->attach(categories_);
}

void RulesEngine::buildTree() const {
    std::array<RuleCategory::Rules, kAllRuleCategoryTypes.size()> lists;
    auto listFor = [&](RuleCategoryType type) -> RuleCategory::Rules& { return lists[static_cast<std::size_t>(type)]; };
    // Thousands of entries are made at every load: each text is put together in one allocation.
    const auto joined = [](std::string_view head, std::string_view separator, std::string_view tail) {
        std::string text;
        text.reserve(head.size() + separator.size() + tail.size());
        text.append(head).append(separator).append(tail);
        return text;
    };
    for (const auto& provider : compiledProviders_) {
        // An entry is identified as "<category>:<pattern>" under the category it is listed in.
        auto add = [&](RuleCategoryType listedUnder, const std::string& pattern, std::string_view displaySuffix) {
            listFor(listedUnder)
                .push_back(std::make_shared<RuleEntry>(joined(rawValue(listedUnder), ":", pattern), pattern,
                                                       joined(provider.name, ": ", displaySuffix), listedUnder,
                                                       RuleEntry::Source::clearURLs, true, provider.listedSource));
        };
        for (const auto& rule : provider.paramRegexes)
            add(provider.category, rule.pattern, rule.pattern);
        for (const auto& rule : provider.referralParamRegexes)
            add(RuleCategoryType::referralMarketing, rule.pattern, rule.pattern);
        for (const auto& rule : provider.redirectionRegexes)
            add(RuleCategoryType::redirectUnwrapping, rule.pattern, "redirect");
        for (const auto& rule : provider.encodedRedirectionRegexes)
            add(RuleCategoryType::redirectUnwrapping, rule.pattern, "encoded redirect");
        for (const auto& rule : provider.rawRuleRegexes)
            add(provider.category, rule.pattern, "path rule");
    }
    // The built-in rules follow the providers' in their categories, "utm_*" at the top of Analytics.
    for (auto name : fallbackParams) {
        if (name.starts_with("utm_")) continue;
        const RuleCategoryType category = categorizeFallbackParam(name);
        listFor(category).push_back(std::make_shared<RuleEntry>(joined(rawValue(category), ":", name),
                                                                std::string(name), std::string(name), category,
                                                                RuleEntry::Source::fallback));
    }
    auto& analytics = listFor(RuleCategoryType::analytics);
    analytics.insert(analytics.begin(),
                     std::make_shared<RuleEntry>("Analytics:utm_*", "utm_*", "utm_* (all UTM parameters)",
                                                 RuleCategoryType::analytics, RuleEntry::Source::fallback));
    std::vector<std::shared_ptr<RuleCategory>> categories;
    categories.reserve(kAllRuleCategoryTypes.size());
    for (RuleCategoryType type : kAllRuleCategoryTypes) {
        categories.push_back(std::make_shared<RuleCategory>(type, true, std::move(listFor(type))));
    }
    treeConnections_.clear();
    categories_ = std::move(categories);
    // Whoever changes the rules listed in the tree, what was made from them is made again.
    for (const auto& category : categories_)
        treeConnections_.push_back(category->rulesChanged().connect([this] { rulesChanged(); }));
    categoryByType_.fill(nullptr);
    for (const auto& category : categories_) {
        auto& slot = categoryByType_[static_cast<std::size_t>(category->type())];
        if (slot == nullptr) slot = category.get();
    }
}

void RulesEngine::buildFallbackRules() {
    fallbackRules_.clear();
    rulesChanged();
    if (auto utm = Regex::compile("^utm_.*$", true)) {
        fallbackRules_.push_back(FallbackRule{std::move(*utm), "Analytics:utm_*", RuleCategoryType::analytics});
    }
    for (auto name : fallbackParams) {
        if (name.starts_with("utm_")) continue;
        RuleCategoryType category = categorizeFallbackParam(name);
        appendFallbackRule(name, std::string(rawValue(category)) + ":" + std::string(name), category);
    }
}

void RulesEngine::appendFallbackRule(std::string_view literalName, std::string ruleID, RuleCategoryType category) {
    if (auto regex = Regex::compile("^" + Regex::escape(literalName) + "$", true)) {
        fallbackRules_.push_back(FallbackRule{std::move(*regex), std::move(ruleID), category});
    }
    rulesChanged();
}

void RulesEngine::rulesChanged() const {
    matcher_.reset();
    matchCountLayout_.reset();
}

const RuleMatcher& RulesEngine::matcher() const {
    if (!matcher_)
        matcher_ = std::make_unique<RuleMatcher>(compiledProviders_, fallbackRules_, categories_, knownPrefilters_);
    return *matcher_;
}

// --- Questions

bool RulesEngine::isCategoryEnabled(RuleCategoryType type) const {
    // A tree still to be made has every switch on.
    if (treePending_) return true;
    const RuleCategory* category = firstCategory(type);
    return category == nullptr || category->isEnabled();
}

bool RulesEngine::isRuleEnabled(std::string_view ruleID, RuleCategoryType type) const {
    if (treePending_) return true;
    const RuleCategory* category = firstCategory(type);
    if (category == nullptr) return true;
    if (!category->isEnabled()) return false;
    const RuleEntry* rule = category->firstRule(ruleID);
    return rule == nullptr || rule->isEnabled();
}

// --- Categorisation

RuleCategoryType RulesEngine::categorize(std::string_view providerName, const Provider& provider) {
    if (provider.category) return *provider.category;
    if (!provider.redirections.empty() || !provider.encodedRedirections.empty())
        return RuleCategoryType::redirectUnwrapping;
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
