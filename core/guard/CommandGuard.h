// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Paths.h"
#include "core/foundation/ResourceBundle.h"
#include "core/guard/CommandRiskResult.h"
#include "core/guard/CommandRiskSeverity.h"
#include "core/guard/CommandViews.h"
#include "core/guard/CompiledRule.h"
#include "core/guard/RuleScreen.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaril {

// Decides whether a copied text is a risky terminal command, from the regular-expression rules of
// "command-guard-rules.json". Immutable after construction; analyze may be called from any thread.
class CommandGuard {
public:
    static constexpr std::string_view defaultRulesFileName = "command-guard-rules";
    static constexpr std::string_view installedRulesFileName = "command-guard-rules.json";
    // The version shown when no rules file could be read and decoded.
    static constexpr std::string_view unavailableRulesVersion = "unavailable";
    // Longer texts are not examined at all: this bounds the work on the main thread.
    static constexpr std::size_t maximumCommandBytes = 32768;
    // The views of a text (command_views::derive) together are at most this long, so that the rules
    // search any text at most three times its size.
    static constexpr std::size_t maximumViewBytes = 2 * maximumCommandBytes;
    // Matches longer than this many user-perceived characters are cut to cutLength plus "...".
    static constexpr std::size_t maximumMatchedTextLength = 160;
    static constexpr std::size_t cutLength = 157;
    // Work allowed for one rule's search (ICU match-engine units of about ten thousand steps). Every
    // shipped rule stays far below it on the longest text examined; it only stops a pathological
    // pattern in an installed file from freezing the clipboard loop.
    static constexpr std::int32_t matchWorkLimit = 200;
    // Matches of one rule passed over because every site they name is on the rule's site list,
    // after which the text is left unfinished rather than searched further.
    static constexpr std::size_t maximumListedMatches = 64;
    // Every neutralized text starts with these two comment lines.
    static constexpr std::string_view neutralizedHeader =
        "# Tessaril neutralized a risky command copied to the clipboard.\n"
        "# Review before running anything below.\n";

    // Why a rules document gives the guard nothing to apply; description() has the text to show.
    enum class RulesProblem { missing, undecodable, noRuleCompiles, malformedSiteList };
    // An installed rules file that was there but unusable, so the shipped rules were loaded instead.
    struct PassedOverRules {
        std::filesystem::path file;
        RulesProblem problem;
    };

    // A text as the rules see it: line continuations joined, white space trimmed, malformed UTF-8
    // repaired into U+FFFD, and then no longer than maximumCommandBytes. Only examinedCommand makes
    // one, so the size limit is always measured on the very text that is examined.
    class ExaminedCommand {
    public:
        [[nodiscard]] const std::string& text() const { return text_; }
        // The text before its line continuations were joined, trimmed and repaired the same way:
        // what a shell reads, where a backslash and a line break inside a word vanish.
        [[nodiscard]] const std::string& pasted() const { return pasted_.empty() ? text_ : pasted_; }

    private:
        friend class CommandGuard;
        ExaminedCommand(std::string text, std::string pasted, bool neutralized)
            : text_(std::move(text)), pasted_(std::move(pasted)), neutralized_(neutralized) {}
        std::string text_;
        // Empty when no continuation was joined.
        std::string pasted_;
        // Whether the text as pasted is this product's neutralized output: the header, then only
        // commented lines.
        bool neutralized_;
    };

    // Loads the installed rules file (`installedRulesURL`, else defaultInstalledRulesURL under
    // `paths`) when it is usable, else the shipped file of `bundle`. Without a bundle there is no
    // shipped file; without paths and an explicit file there is no installed one. An installed file
    // that is there but does not decode, or in which no rule compiles, is passed over (see
    // passedOverInstalledRules).
    CommandGuard(const ResourceBundle* bundle, const Paths* paths,
                 const std::optional<std::filesystem::path>& installedRulesURL = std::nullopt);
    // Rules taken from a document in memory; no data or data that does not decode gives a guard
    // whose version is "unavailable" and that reports nothing.
    [[nodiscard]] static CommandGuard fromRulesData(std::optional<std::string_view> data);

    CommandGuard(CommandGuard&&) noexcept = default;
    CommandGuard& operator=(CommandGuard&&) noexcept = default;

    [[nodiscard]] const std::string& rulesVersion() const { return rulesVersion_; }
    // The rules whose patterns compiled, in file order.
    [[nodiscard]] const std::vector<CompiledRule>& rules() const { return rules_; }
    // Why the guard has no rule at all, so that every text would pass; nothing when it has rules.
    [[nodiscard]] std::optional<RulesProblem> rulesProblem() const { return rulesProblem_; }
    [[nodiscard]] const std::optional<PassedOverRules>& passedOverInstalledRules() const { return passedOver_; }
    [[nodiscard]] static std::string_view description(RulesProblem problem);

    // What the rules made of an examined text. `unfinished` says that some rule ran out of work
    // (matchWorkLimit) before it could tell whether it matches, so a text without findings has not
    // been shown safe: a hostile text must not pass by being costly to search.
    struct Verdict {
        std::optional<CommandRiskResult> result;
        bool unfinished = false;
    };

    // The text as analyze examines it, or nothing when it is longer than maximumCommandBytes and so
    // not examined at all. Callers that must tell "not examined" from "nothing found" start here and
    // read the Verdict.
    [[nodiscard]] static std::optional<ExaminedCommand> examinedCommand(std::string_view text);
    [[nodiscard]] Verdict analyze(ExaminedCommand command,
                                  CommandRiskSeverity threshold = CommandRiskSeverity::warning) const;
    // The findings on a copied text: one per rule that matches at or above `threshold` in the text or,
    // failing that, in one of its views (command_views::derive), or nothing
    // when no rule does, the text is blank, not examined, not finished or this product's own
    // neutralized text.
    [[nodiscard]] std::optional<CommandRiskResult> analyze(
        std::string_view text, CommandRiskSeverity threshold = CommandRiskSeverity::warning) const;

    // The views of an examined text the rules also run over (command_views::derive, within
    // maximumViewBytes).
    [[nodiscard]] static std::vector<CommandView> views(const ExaminedCommand& command);

    // An inert copy of the text: the two header lines, then every line of the command behind "# ". A
    // lone carriage return ends a line too, since a terminal runs what follows it.
    [[nodiscard]] static std::string neutralizedCommand(std::string_view text);
    // Shell and PowerShell line continuations joined into spaces, then white space trimmed.
    [[nodiscard]] static std::string normalizedCommand(std::string_view text);

    // The installed rules file in use: the first of the rules root's "active" and "previous"
    // bundles whose file decodes with a non-blank version, else the legacy location (not checked).
    [[nodiscard]] static std::filesystem::path defaultInstalledRulesURL(const Paths& paths);
    // The rules root the updater installs bundles into.
    [[nodiscard]] static std::filesystem::path rulesRootURL(const Paths& paths);
    // The "currentVersion" of a rules document as stored, when it decodes and the version is not blank.
    [[nodiscard]] static std::optional<std::string> ruleBundleVersion(std::string_view data);
    // What rulesVersion() of a guard made from `bundle` and `paths` says, found without compiling
    // more rules than it takes to see that an installed file has one that compiles.
    [[nodiscard]] static std::string rulesVersionOf(const ResourceBundle* bundle, const Paths* paths);

private:
    CommandGuard() = default;
    void compile(std::optional<std::string_view> data);
    // Adds a finding, labelled with `view`, for every rule at or above `threshold` that has not
    // matched yet and matches `text`. Called under matchLock_.
    void matchRules(std::string_view text, std::string_view view, CommandRiskSeverity threshold,
                    std::vector<bool>& matched, std::vector<CommandRiskFinding>& findings, bool& unfinished) const;

    std::string rulesVersion_{unavailableRulesVersion};
    std::vector<CompiledRule> rules_;
    RuleScreen screen_;
    std::optional<RulesProblem> rulesProblem_ = RulesProblem::missing;
    std::optional<PassedOverRules> passedOver_;
    // Each compiled expression keeps one matcher; the lock lets threads share a guard safely.
    std::unique_ptr<std::mutex> matchLock_ = std::make_unique<std::mutex>();
};

}  // namespace tessaril
