// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CompiledProvider.h"
#include "core/cleaning/FragmentIndex.h"
#include "core/cleaning/LinkScan.h"
#include "core/cleaning/NameAnswers.h"
#include "core/cleaning/NameRuleIndex.h"
#include "core/cleaning/Provider.h"
#include "core/cleaning/ProviderSet.h"
#include "core/cleaning/RuleCategory.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/RuleEntry.h"
#include "core/foundation/Paths.h"
#include "core/foundation/Regex.h"
#include "core/foundation/ResourceBundle.h"
#include "core/foundation/Signal.h"
#include "core/foundation/UserDefaults.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tessaril {

// Where the engine finds its files and reports problems. Without resources or paths, the
// corresponding lookups find nothing. Without a diagnostic sink, lines go to standard output.
struct RulesEngineEnvironment {
    const ResourceBundle* resources = nullptr;
    const Paths* paths = nullptr;
    std::function<void(std::string_view)> diagnostic;
};

// A built-in or custom parameter rule: a whole-name expression, its rule identifier and category.
struct FallbackRule {
    Regex regex;
    std::string ruleID;
    RuleCategoryType category;
};

// Holds the compiled URL rules, the category tree the user switches, and the user's switches, match
// counts and custom rules (kept in the user's defaults). Empty until a load runs. Not thread-safe:
// callers serialise access (in the application, everything runs on the main thread).
class RulesEngine {
public:
    static constexpr std::string_view enabledStateKey = "rulesEngine_enabledState";
    static constexpr std::string_view customRulesKey = "rulesEngine_customRules";
    static constexpr std::string_view matchCountsKey = "rulesEngine_matchCounts";
    // ICU work steps (each on the order of a millisecond) that one match of a rule may take. Real
    // links are matched in a tiny fraction of one step; the bound only stops text built to make
    // a pattern backtrack for ever. A match that runs out counts as no match.
    static constexpr std::int32_t matchWorkLimit = 200;

    // Parameters removed even without any rule file. All "utm_" names share one rule.
    static constexpr std::array<std::string_view, 22> fallbackParams = {"utm_source",
                                                                        "utm_medium",
                                                                        "utm_campaign",
                                                                        "utm_term",
                                                                        "utm_content",
                                                                        "utm_id",
                                                                        "utm_source_platform",
                                                                        "utm_creative_format",
                                                                        "utm_marketing_tactic",
                                                                        "fbclid",
                                                                        "gclid",
                                                                        "gclsrc",
                                                                        "msclkid",
                                                                        "ttclid",
                                                                        "twclid",
                                                                        "mc_cid",
                                                                        "mc_eid",
                                                                        "_hsenc",
                                                                        "_hsmi",
                                                                        "yclid",
                                                                        "feature",
                                                                        "pp"};

    explicit RulesEngine(UserDefaults& defaults, RulesEngineEnvironment environment = {});
    RulesEngine(const RulesEngine&) = delete;
    RulesEngine& operator=(const RulesEngine&) = delete;

    // --- Loading. Each returns whether its data decoded and was applied; a failed decode keeps the
    // previous state.
    // The shipped "data.min.json" plus the newest supplementary file; true when the main file loaded.
    bool loadBundledRules();
    // Replaces the providers with those of one provider rule file.
    bool loadRules(std::string_view data);
    // Adds the providers of a second file after the current ones; a file that fails to decode is
    // ignored silently.
    bool appendSupplementaryRules(std::string_view data);
    // loadRules, then appendSupplementaryRules when supplementary data is given; true when the main
    // document decoded (a supplementary one that does not is ignored, as appending it alone is).
    bool loadRuleBundle(std::string_view clearURLsData, std::optional<std::string_view> supplementaryData);
    // The newest of the supplementary rule files on this machine (shared containers, then the core
    // resources); on equal dates the earlier candidate wins.
    [[nodiscard]] std::optional<std::filesystem::path> supplementaryRulesURL() const;

    // --- State. Each load replaces the category tree (and emits categoriesChanged); pointers and
    // references into compiledProviders are invalidated by every load.
    [[nodiscard]] const std::vector<std::shared_ptr<RuleCategory>>& categories() const { return categories_; }
    [[nodiscard]] Signal<>& categoriesChanged() { return categoriesChanged_; }
    [[nodiscard]] const std::vector<CompiledProvider>& compiledProviders() const { return compiledProviders_; }
    [[nodiscard]] const std::vector<FallbackRule>& fallbackRules() const { return fallbackRules_; }

    // --- Questions the cleaner asks. Each comes in two forms: on a LinkScan of the link, which the
    // cleaner makes once per link and which keeps the answers that several steps need, and on the
    // link text alone, which scans it on the spot.
    // Makes `scan` describe `text`; `text` must outlive the scan's use.
    void scan(std::string_view text, LinkScan& scan) const;
    // Providers whose category is on and whose URL pattern occurs anywhere in the URL, in load order.
    [[nodiscard]] std::vector<const CompiledProvider*> matchingProviders(std::string_view url) const;
    // The same into a caller's vector, which keeps its capacity from one link to the next.
    void matchingProviders(LinkScan& scan, std::vector<const CompiledProvider*>& out) const;
    [[nodiscard]] bool isCategoryEnabled(RuleCategoryType type) const;
    [[nodiscard]] bool isRuleEnabled(std::string_view ruleID, RuleCategoryType category) const;
    [[nodiscard]] bool isException(std::string_view url, const CompiledProvider& provider) const;
    // Most providers have no exceptions; that answer costs no call.
    [[nodiscard]] bool isException(LinkScan& scan, const CompiledProvider& provider) const {
        return !provider.exceptionRegexes.empty() && exceptionCovers(scan, provider);
    }
    // The identifier of the provider rule (or referral rule) that removes this parameter.
    [[nodiscard]] std::optional<std::string> shouldStripParam(std::string_view name,
                                                              const CompiledProvider& provider) const;
    [[nodiscard]] bool hasStripParam(std::string_view name, const CompiledProvider& provider) const;
    // The providers among `matching` (in load order, as matchingProviders gives them) whose parameter
    // rules apply to the link: those that have such rules and do not except it.
    void parameterProviders(LinkScan& scan, std::span<const CompiledProvider* const> matching, ProviderSet& out) const;
    // The first of `providers`, in their order, with an enabled rule that removes this parameter, and
    // that rule: what shouldStripParam asked of each provider in turn would find, with one lookup.
    struct ParamRuleMatch {
        const CompiledProvider* provider = nullptr;
        const CompiledPattern* rule = nullptr;
        bool isReferral = false;
    };
    [[nodiscard]] std::optional<ParamRuleMatch> firstStrippingRule(std::string_view name,
                                                                   const ProviderSet& providers) const;
    // The identifier shouldStripParam gives for that rule.
    [[nodiscard]] static std::string ruleID(const ParamRuleMatch& match);
    // The identifier and category of the built-in or custom rule that removes this parameter.
    [[nodiscard]] std::optional<std::pair<std::string, RuleCategoryType>> shouldStripParamFallback(
        std::string_view name) const;
    [[nodiscard]] bool hasStripParamFallback(std::string_view name) const;
    // The web link hidden in a redirect wrapper (redirectTarget of the first capture that gives one).
    [[nodiscard]] std::optional<std::string> extractRedirection(std::string_view url,
                                                                const CompiledProvider& provider) const;
    [[nodiscard]] std::optional<std::string> extractRedirection(LinkScan& scan, const CompiledProvider& provider) const;
    // The URL with every match of the provider's path rules cut out.
    [[nodiscard]] std::string applyRawRules(std::string_view url, const CompiledProvider& provider) const;
    // False when no path rule of the provider can match, so the copy applyRawRules makes is not needed.
    [[nodiscard]] bool rawRulesMayApply(LinkScan& scan, const CompiledProvider& provider) const;
    // The position in `providers` (engine providers in its order, as matchingProviders gives them)
    // of the first provider from `from` on whose redirections may match the link, or the end. Only
    // the providers whose redirection filters are live for the link are visited.
    [[nodiscard]] std::size_t nextRedirectionProvider(LinkScan& scan,
                                                      std::span<const CompiledProvider* const> providers,
                                                      std::size_t from) const;
    // The same for path rules.
    [[nodiscard]] std::size_t nextPathRuleProvider(LinkScan& scan, std::span<const CompiledProvider* const> providers,
                                                   std::size_t from) const;
    // Counts one match of the rule and its category (not persisted until saveMatchCounts), when the
    // statistics switch allows it.
    void recordMatch(std::string_view ruleID, RuleCategoryType category);
    // The user's statistics switch, asked at each match; until one is set, every match counts.
    void setStatisticsSwitch(std::function<bool()> enabled) { statisticsEnabled_ = std::move(enabled); }

    // --- User actions and persistence.
    void addCustomRule(std::string_view pattern, std::string_view displayName, RuleCategoryType category);
    void removeCustomRule(std::string_view id);
    // The category tree as a JSON array, or nothing when it cannot be encoded.
    [[nodiscard]] std::optional<std::string> exportRules() const;
    // Why a custom rule with these texts cannot be added now (see customRuleProblem, and the limit
    // on how many there may be), or nothing. addCustomRule itself does not check.
    [[nodiscard]] std::optional<std::string> customRuleRefusal(std::string_view pattern,
                                                               std::string_view displayName) const;
    // Takes category switches and new custom rules from an export, all or nothing; false (and no
    // change) when it does not decode or a custom rule in it is one that could not be added by hand.
    bool importRules(std::string_view data);
    // Why importRules(data) would refuse the document, or nothing when it would take it.
    [[nodiscard]] std::optional<std::string> importRefusal(std::string_view data) const;
    void saveEnabledStates();
    void saveMatchCounts();
    void resetMatchCounts();
    void reloadPersistedState();
    void resetToDefaults();

    [[nodiscard]] static RuleCategoryType categorize(std::string_view providerName, const Provider& provider);
    [[nodiscard]] static RuleCategoryType categorizeFallbackParam(std::string_view name);

private:
    // Replaces the providers with the main file's (when given and it decodes), then appends the
    // supplementary file's; returns whether each decoded.
    std::pair<bool, bool> applyProviders(std::optional<std::string_view> mainData,
                                         std::optional<std::string_view> supplementaryData);
    void rebuild();
    void buildCategories();
    void buildFallbackRules();
    void loadPersistedState();
    void loadCustomRules();
    void saveCustomRules();
    [[nodiscard]] std::size_t customRuleCount() const;
    // The categories of an export to import, or why it is refused.
    using ImportDecode = std::variant<std::vector<std::shared_ptr<RuleCategory>>, std::string>;
    [[nodiscard]] ImportDecode decodeImport(std::string_view data) const;
    // Drops every custom entry from the tree and their rules from fallbackRules.
    void removeAllCustomRules();
    void appendFallbackRule(std::string_view literalName, std::string ruleID, RuleCategoryType category);
    void buildProviderIndexes();
    // Called after every change of fallbackRules_: its index is rebuilt before the next lookup.
    void fallbackRulesChanged();
    [[nodiscard]] std::size_t providerNumber(const CompiledProvider& provider) const;
    void report(std::string_view line) const;

    [[nodiscard]] RuleCategory* firstCategory(RuleCategoryType type) const {
        return categoryByType_[static_cast<std::size_t>(type)];
    }
    [[nodiscard]] bool exceptionCovers(LinkScan& scan, const CompiledProvider& provider) const;
    [[nodiscard]] const CompiledPattern* strippingParamRule(std::string_view name, const CompiledProvider& provider,
                                                            bool& isReferral) const;
    [[nodiscard]] const FallbackRule* strippingFallbackRule(std::string_view name) const;
    [[nodiscard]] bool paramRuleEnabled(const CompiledProvider& provider, const CompiledPattern& rule,
                                        bool isReferral) const;

    UserDefaults& defaults_;
    RulesEngineEnvironment environment_;
    std::function<bool()> statisticsEnabled_;
    std::vector<std::shared_ptr<RuleCategory>> categories_;
    // The first category of each type, the one every lookup consults.
    std::array<RuleCategory*, kAllRuleCategoryTypes.size()> categoryByType_{};
    std::vector<CompiledProvider> compiledProviders_;
    std::vector<FallbackRule> fallbackRules_;
    Signal<> categoriesChanged_;
    // Reused to form rule identifiers without allocating on every parameter.
    mutable std::string scratchID_;

    // Lookup structures derived from the rules (rebuilt by every load), and scratch space that lets
    // the questions above run without allocating. The engine is single-threaded, so the scratch
    // space is simply mutable.
    // What routing a link asks of provider i, kept apart from the providers' own large records:
    // its URL pattern's filter (filter group i of the fragment index), the pattern's number
    // (providers with the same pattern text, such as the many that apply to every web link, share
    // one answer per link) and its category.
    struct Route {
        std::uint32_t filter = 0;
        std::uint32_t pattern = 0;
        RuleCategoryType category{};
    };
    std::vector<Route> routes_;
    // Per pattern number, the link (stamp) its answer was found for, and the answer.
    struct PatternAnswer {
        std::uint32_t stamp = 0;
        bool matched = false;
    };
    // The fragment index's group numbers [first, second) of all redirections, of all path rules.
    std::pair<std::uint32_t, std::uint32_t> redirectionGroups_;
    std::pair<std::uint32_t, std::uint32_t> rawRuleGroups_;
    // nextPathRuleProvider when `pathRules`, else nextRedirectionProvider.
    [[nodiscard]] std::size_t nextProviderWithLiveGroup(LinkScan& scan,
                                                        std::span<const CompiledProvider* const> providers,
                                                        std::size_t from, bool pathRules) const;
    mutable std::vector<PatternAnswer> patternAnswers_;
    mutable std::uint32_t stamp_ = 0;
    // The fragments of every link filter, found in one pass per link; the generation counts loads,
    // so that a scan made before one is redone.
    FragmentIndex fragmentIndex_;
    std::uint64_t generation_ = 1;
    // Brings a scan made before the latest load up to date.
    void refresh(LinkScan& scan) const;
    // A scan of a copy of `text`, for the questions asked without one; kept while the text repeats.
    LinkScan& scratchScan(std::string_view text) const;
    mutable std::string scratchText_;
    // The keys of the stored match count document in the order they are written, each already
    // encoded, with the category or rule whose count it carries; made for one shape of the category
    // tree (the objects it holds) and made again when the tree has changed. Saving after every clean
    // then costs one pass over the counts instead of building and sorting a JSON object.
    struct MatchCountLayout {
        std::vector<std::shared_ptr<RuleCategory>> categories;
        std::vector<RuleCategory::Rules> rules;
        struct Key {
            std::string encoded;  // "\"rule:...\":"
            const RuleCategory* category = nullptr;
            const RuleEntry* rule = nullptr;
        };
        std::vector<Key> keys;
        bool encodable = true;
    };
    [[nodiscard]] bool matchCountLayoutFits() const;
    void makeMatchCountLayout();
    MatchCountLayout matchCountLayout_;
    mutable LinkScan scratchScan_;
    // Parameter rules of provider i are list i (its "rules", then its "referralMarketing").
    NameRuleIndex providerNames_;
    mutable NameRuleIndex fallbackNames_;
    mutable bool fallbackNamesStale_ = true;
    // What the rules say about one parameter name, whatever the link: the provider rules whose
    // expressions match it (list = provider number, rule = its number among the provider's "rules"
    // then "referralMarketing") and the built-in or custom rules that do, each in rule order. The
    // switches are not part of it: they are read when a rule is about to be used. Names repeat from
    // link to link, so the answers are kept, up to kKeptNameAnswers of them.
    struct NameRules {
        NameRuleIndex::Hits providerRules;
        std::vector<std::uint32_t> fallbackRules;
    };
    static constexpr std::size_t kKeptNameAnswers = 4096;
    // Null for a name the indexes cannot answer for (bytes outside printable ASCII).
    [[nodiscard]] const NameRules* nameRules(std::string_view name) const;
    void computeNameRules(std::string_view name, const std::string& lowerName, NameRules& rules) const;
    mutable NameAnswers<NameRules> nameRules_{kKeptNameAnswers};
    // The last name asked about (a view of its key in nameRules_) and its answer, while it is kept.
    mutable std::string_view lastName_;
    mutable const NameRules* lastNameRules_ = nullptr;
    mutable std::string lowerName_;
    // Providers with rules that the name index cannot answer by lookup alone, in ascending order.
    std::vector<std::uint32_t> regexLists_;
    mutable std::vector<std::uint32_t> literalHits_;
    mutable std::vector<std::uint32_t> regexCandidates_;
};

}  // namespace tessaril
