// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CompiledProvider.h"
#include "core/cleaning/FallbackRule.h"
#include "core/cleaning/Provider.h"
#include "core/cleaning/RuleCategory.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/RuleEntry.h"
#include "core/cleaning/matching/RuleMatcher.h"
#include "core/foundation/KnownPrefilters.h"
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
    // Whether a downloaded or installed pair of rule files would give a working engine: both decode,
    // every provider has a URL pattern, every pattern compiles (a normal load would skip one that does
    // not; a bundle is refused for it), some provider compiles, and three ordinary links clean as
    // expected with these rules alone. Returns why not, or nothing when the bundle is good. Works on a
    // private engine over a throw-away suite of `defaults`, removed again before returning, so the
    // live engine and the user's own preferences are never touched.
    [[nodiscard]] static std::optional<std::string> validateRuleBundle(
        UserDefaults& defaults, std::string_view clearURLsData, std::optional<std::string_view> supplementaryData);
    // Whether `data` is a rule file of which loading keeps every pattern: it decodes and each pattern
    // compiles as loading reads it. The build asks this of the shipped files, and a load of a file it
    // answered true for (ResourceBundle::isCheckedRuleFile) leaves the patterns to compile on first use.
    [[nodiscard]] static bool loadsEveryPattern(std::string_view data);
    // The newest of the supplementary rule files on this machine (shared containers, then the core
    // resources); on equal dates the earlier candidate wins.
    [[nodiscard]] std::optional<std::filesystem::path> supplementaryRulesURL() const;

    // --- State. Each load replaces the category tree (and emits categoriesChanged); pointers and
    // references into compiledProviders are invalidated by every load. The tree is made at the first
    // question that needs it (see ensureTree).
    [[nodiscard]] const std::vector<std::shared_ptr<RuleCategory>>& categories() const {
        ensureTree();
        return categories_;
    }
    [[nodiscard]] Signal<>& categoriesChanged() { return categoriesChanged_; }
    [[nodiscard]] const std::vector<CompiledProvider>& compiledProviders() const { return compiledProviders_; }
    [[nodiscard]] const std::vector<FallbackRule>& fallbackRules() const { return fallbackRules_; }

    // --- Questions. What the rules say about a link is answered by the matcher, which is made from the
    // current providers, built-in and custom rules and category tree at the first question after
    // any of them changed; a reference to it is good until the next change.
    [[nodiscard]] const RuleMatcher& matcher() const;
    [[nodiscard]] bool isCategoryEnabled(RuleCategoryType type) const;
    [[nodiscard]] bool isRuleEnabled(std::string_view ruleID, RuleCategoryType category) const;
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
    // Makes the category tree of the loaded rules, with every switch on and no count.
    void buildTree() const;
    // Makes the tree if the last load left it to be made on demand: with no stored switches and no
    // custom rules, cleaning asks nothing of it (every switch is on), and making its thousands of
    // entries was a sixth of the tool's start-up. A matcher made meanwhile is attached to the tree.
    void ensureTree() const;
    void buildFallbackRules();
    void loadStoredRuleState();
    void loadPersistedState();
    // Applies stored switch and count documents (either may be absent) to the tree.
    void applyPersistedState(const std::optional<std::string>& enabledText,
                             const std::optional<std::string>& countsText) const;
    void loadCustomRules();
    void saveCustomRules();
    [[nodiscard]] std::size_t customRuleCount() const;
    // The categories of an export to import, or why it is refused.
    using ImportDecode = std::variant<std::vector<std::shared_ptr<RuleCategory>>, std::string>;
    [[nodiscard]] ImportDecode decodeImport(std::string_view data) const;
    // Drops every custom entry from the tree and their rules from fallbackRules.
    void removeAllCustomRules();
    void appendFallbackRule(std::string_view literalName, std::string ruleID, RuleCategoryType category);
    // Called after every change of the providers, the built-in and custom rules or the rules listed
    // in the tree (the engine listens to each category for those): drops what was made from them
    // (the matcher, the match count layout), to be made again when next needed.
    void rulesChanged() const;
    void report(std::string_view line) const;

    [[nodiscard]] RuleCategory* firstCategory(RuleCategoryType type) const {
        ensureTree();
        return categoryByType_[static_cast<std::size_t>(type)];
    }

    UserDefaults& defaults_;
    RulesEngineEnvironment environment_;
    std::function<bool()> statisticsEnabled_;
    // Made on demand (ensureTree), hence mutable.
    mutable std::vector<std::shared_ptr<RuleCategory>> categories_;
    // The first category of each type, the one every lookup consults.
    mutable std::array<RuleCategory*, kAllRuleCategoryTypes.size()> categoryByType_{};
    // Whether the tree is still to be made, and the stored match counts it is to be made with (as
    // they were read at the load).
    mutable bool treePending_ = false;
    mutable std::optional<std::string> pendingCounts_;
    std::vector<CompiledProvider> compiledProviders_;
    std::vector<FallbackRule> fallbackRules_;
    Signal<> categoriesChanged_;
    mutable std::vector<ScopedConnection> treeConnections_;
    mutable std::unique_ptr<RuleMatcher> matcher_;
    // What the build worked out from the shipped rules' patterns, when a checked file is loaded.
    KnownPrefilters knownPrefilters_;

    // The keys of the stored match count document in the order they are written, each already
    // encoded, with the category or rule whose count it carries. Saving after every clean then costs
    // one pass over the counts instead of building and sorting a JSON object.
    struct MatchCountLayout {
        struct Key {
            std::string encoded;  // "\"rule:...\":"
            const RuleCategory* category = nullptr;
            const RuleEntry* rule = nullptr;
        };
        std::vector<Key> keys;
        bool encodable = true;
    };
    [[nodiscard]] MatchCountLayout makeMatchCountLayout() const;
    mutable std::optional<MatchCountLayout> matchCountLayout_;
};

}  // namespace tessaril
