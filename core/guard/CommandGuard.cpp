// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandGuard.h"

#include "core/foundation/FileContents.h"
#include "core/foundation/PatternSyntax.h"
#include "core/foundation/Text.h"
#include "core/guard/CommandViews.h"
#include "core/guard/RelaxedPattern.h"
#include "core/guard/RuleBundle.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <climits>
#include <map>
#include <memory>
#include <utility>

namespace tessaril {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kAppFolder = "com.orvellelabs.tessaril";

// Malformed bytes become U+FFFD, as a text taken from the pasteboard would read. Refusing such text
// instead would let one stray byte switch the guard off.
std::string repairedUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    std::int32_t i = 0;
    while (i < length) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        }
    }
    return out;
}

// Whether an alternative searched on its own still means what it does in the whole pattern: a
// back-reference does only when its alternative holds every group of the pattern, numbered as before.
bool searchableAlone(const PatternSyntax& syntax, const PatternSyntax::Node& branch) {
    bool references = false;
    std::size_t groups = 0;
    for (std::int32_t index = 0; index < static_cast<std::int32_t>(syntax.size()); ++index) {
        const auto& node = syntax.node(index);
        if (node.begin < branch.begin || node.end > branch.end) continue;
        references = references || node.kind == PatternSyntax::Kind::backReference;
        const bool numbered = node.form == PatternSyntax::Form::capturing || node.form == PatternSyntax::Form::named;
        groups += node.kind == PatternSyntax::Kind::group && numbered ? 1 : 0;
    }
    return !references || groups == syntax.groupCount();
}

// The alternatives of a pattern's top-level alternation, each with the pattern's leading "(?i)" and
// an expression to search it alone unless it would lose the group of a back-reference; nothing when
// there is only one, or when the pattern holds anything that could make a bar mean something else
// than it seems to here (quoting, inline flags, comments). An alternative compiles when it is first
// searched: ICU accepts it, as it accepted the whole pattern, and compiling is most of the time a
// guard takes to load.
std::vector<CompiledRule::Alternative> topLevelAlternatives(std::string_view pattern) {
    const auto syntax = PatternSyntax::parse(pattern);
    if (!syntax || syntax->holds(PatternSyntax::Form::quote) || syntax->holds(PatternSyntax::Form::flags) ||
        syntax->holds(PatternSyntax::Form::comment) || syntax->childCount(PatternSyntax::root) < 2) {
        return {};
    }
    const std::string_view prefix = syntax->caseInsensitive() ? pattern.substr(0, 4) : std::string_view();
    std::vector<CompiledRule::Alternative> alternatives;
    for (auto branch = syntax->node(PatternSyntax::root).child; branch >= 0; branch = syntax->node(branch).next) {
        const auto& node = syntax->node(branch);
        const std::string alternative =
            std::string(prefix) + std::string(pattern.substr(node.begin, node.end - node.begin));
        auto& added = alternatives.emplace_back(CompiledRule::Alternative{RulePrefilter::fromPattern(alternative), {}});
        if (!searchableAlone(*syntax, node)) continue;
        added.regex = Regex::deferred(alternative);
        added.regex->setWorkLimit(CommandGuard::matchWorkLimit);
    }
    return alternatives;
}

// The number of the group named `name` in `pattern`, 0 for an empty name (the whole match), or
// nothing when the pattern has no such group.
std::optional<std::size_t> namedGroupNumber(std::string_view pattern, std::string_view name) {
    if (name.empty()) return 0;
    const auto syntax = PatternSyntax::parse(pattern);
    if (!syntax) return std::nullopt;
    for (std::int32_t index = 0; index < static_cast<std::int32_t>(syntax->size()); ++index) {
        const auto& node = syntax->node(index);
        if (node.kind != PatternSyntax::Kind::group || node.form != PatternSyntax::Form::named) continue;
        // "(?<" name ">"
        const std::string_view text = pattern.substr(node.begin);
        if (text.size() > name.size() + 3 && text.substr(3, name.size()) == name && text[name.size() + 3] == '>')
            return node.value;
    }
    return std::nullopt;
}

// Where a terminal ends a line: at a line feed, and at a carriage return that is not the first half
// of CR LF, since a terminal without bracketed paste takes a lone one as Enter.
bool endsLine(std::string_view text, std::size_t i) {
    return text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
}

// Whether a trimmed text, as pasted, is neutralizedCommand's output: the header, then only lines that
// start with "# " (trimming takes the space of the lone line a blank command gives). It is judged
// before continuations are joined: a shell does not continue a comment, so "# x \" followed by a
// line feed and a command still runs that command.
bool isNeutralizedText(std::string_view text) {
    if (!text.starts_with(CommandGuard::neutralizedHeader)) return false;
    const std::string_view body = text.substr(CommandGuard::neutralizedHeader.size());
    if (body == "#") return true;
    bool lineStarts = true;
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (lineStarts && body.compare(i, 2, "# ") != 0) return false;
        lineStarts = endsLine(body, i);
    }
    return true;
}

std::string matchedFragment(std::string_view match) {
    const std::string_view trimmed = text::trim(match);
    // A cluster takes at least one byte, so short fragments need no counting.
    if (trimmed.size() <= CommandGuard::maximumMatchedTextLength ||
        text::graphemeCount(trimmed) <= CommandGuard::maximumMatchedTextLength) {
        return std::string(trimmed);
    }
    std::string cut(text::graphemePrefix(trimmed, CommandGuard::cutLength));
    cut += "...";
    return cut;
}

}  // namespace

bool CompiledRule::mayMatch(std::string_view text, std::string_view foldedText) const {
    if (!prefilter.mayMatch(text, foldedText)) return false;
    return alternatives.empty() || std::any_of(alternatives.begin(), alternatives.end(), [&](const Alternative& a) {
               return a.prefilter.mayMatch(text, foldedText);
           });
}

std::optional<RegexMatch> CompiledRule::firstMatch(const SearchText& text, std::span<const std::uint8_t> searched,
                                                   bool& hitLimit, std::size_t from) const {
    // With no alternative ruled out, one search of the whole pattern costs less than one per
    // alternative; and it is the only way when an alternative cannot be searched alone.
    const bool whole =
        alternatives.empty() || searched.size() != alternatives.size() ||
        std::all_of(searched.begin(), searched.end(), [](std::uint8_t s) { return s != 0; }) ||
        std::any_of(alternatives.begin(), alternatives.end(), [](const Alternative& a) { return !a.regex; });
    if (whole) {
        auto match = regex.firstMatch(text, from);
        hitLimit = !match && regex.lastMatchHitLimit();
        return match;
    }
    std::optional<RegexMatch> first;
    hitLimit = false;
    for (std::size_t i = 0; i < alternatives.size(); ++i) {
        if (searched[i] == 0) continue;
        auto match = alternatives[i].regex->firstMatch(text, from);
        hitLimit = hitLimit || alternatives[i].regex->lastMatchHitLimit();
        if (match && (!first || match->whole.begin < first->whole.begin)) first = std::move(match);
    }
    hitLimit = hitLimit && !first;
    return first;
}

namespace {

// Looser forms keep every word of a rule's lists, which takes many more positions than the patterns
// the link rules' automata are made for; a DFA state is built once and then reused.
constexpr std::size_t relaxedPositionLimit = 4096;

}  // namespace

bool CompiledRule::RelaxedScreen::mayMatch(std::string_view relaxedText) {
    if (!read_) {
        read_ = true;
        if (auto nfa = pattern_.empty() ? nullptr : RegexNfa::parse(pattern_, false, relaxedPositionLimit))
            dfa_ = std::make_unique<LazyDfa>(std::move(nfa));
    }
    if (!dfa_) return true;
    return dfa_->search(relaxedText).value_or(true);
}

bool CompiledRule::matchStands(std::string_view text, const RegexMatch& match) const {
    if (!exceptSites) return true;
    const std::optional<TextRange> range =
        exceptGroup == 0 ? std::optional(match.whole)
                         : (exceptGroup <= match.groups.size() ? match.groups[exceptGroup - 1] : std::nullopt);
    return range && exceptSites->namesUnlistedSite(text, range->begin, range->end);
}

CommandGuard::CommandGuard(const ResourceBundle* bundle, const Paths* paths,
                           const std::optional<fs::path>& installedRulesURL) {
    std::optional<fs::path> installed = installedRulesURL;
    if (!installed && paths != nullptr) installed = defaultInstalledRulesURL(*paths);
    if (installed) {
        if (const auto data = readFileContents(*installed)) {
            compile(*data);
            if (!rulesProblem_) return;
            passedOver_ = PassedOverRules{*installed, *rulesProblem_};
        }
    }
    const auto shipped = bundle != nullptr ? bundle->url(defaultRulesFileName, "json") : std::nullopt;
    const auto data = shipped ? readFileContents(*shipped) : std::nullopt;
    compile(data ? std::optional<std::string_view>(*data) : std::nullopt);
}

std::string CommandGuard::rulesVersionOf(const ResourceBundle* bundle, const Paths* paths) {
    if (paths != nullptr) {
        if (const auto data = readFileContents(defaultInstalledRulesURL(*paths))) {
            const auto decoded = RuleBundle::decode(*data);
            if (decoded && std::ranges::any_of(decoded->rules, [](const RuleDefinition& rule) {
                    return Regex::compile(rule.pattern).has_value();
                })) {
                return decoded->currentVersion;
            }
        }
    }
    // The shipped file names the version even when none of its rules compiles.
    const auto shipped = bundle != nullptr ? bundle->url(defaultRulesFileName, "json") : std::nullopt;
    const auto data = shipped ? readFileContents(*shipped) : std::nullopt;
    auto decoded = data ? RuleBundle::decode(*data) : std::nullopt;
    return decoded ? std::move(decoded->currentVersion) : std::string(unavailableRulesVersion);
}

CommandGuard CommandGuard::fromRulesData(std::optional<std::string_view> data) {
    CommandGuard guard;
    guard.compile(data);
    return guard;
}

std::string_view CommandGuard::description(RulesProblem problem) {
    switch (problem) {
        case RulesProblem::missing:
            return "no rules file found";
        case RulesProblem::undecodable:
            return "not a Command Guard rules file";
        case RulesProblem::noRuleCompiles:
            return "no rule has a pattern that compiles";
        case RulesProblem::malformedSiteList:
            return "a site list is malformed, or a rule names a site list the file does not have";
    }
    return "no rules";
}

void CommandGuard::compile(std::optional<std::string_view> data) {
    rulesVersion_ = std::string(unavailableRulesVersion);
    rules_.clear();
    rulesProblem_ = RulesProblem::missing;
    if (!data) return;
    RuleBundle::Problem problem = RuleBundle::Problem::undecodable;
    auto bundle = RuleBundle::decode(*data, &problem);
    rulesProblem_ =
        problem == RuleBundle::Problem::malformedSiteList ? RulesProblem::malformedSiteList : RulesProblem::undecodable;
    if (!bundle) return;
    rulesVersion_ = std::move(bundle->currentVersion);
    std::map<std::string, std::shared_ptr<const SiteList>> lists;
    for (const auto& [name, entries] : bundle->siteLists) {
        if (auto list = SiteList::fromEntries(entries))
            lists.emplace(name, std::make_shared<const SiteList>(std::move(*list)));
    }
    rules_.reserve(bundle->rules.size());
    for (auto& definition : bundle->rules) {
        auto regex = Regex::compile(definition.pattern);
        if (!regex) continue;
        std::shared_ptr<const SiteList> exceptSites;
        std::size_t exceptGroup = 0;
        if (definition.exceptSites) {
            // A group the pattern does not have leaves the rule uncompiled, as a bad pattern does.
            const auto group = namedGroupNumber(definition.pattern, definition.exceptSites->group);
            const auto list = lists.find(definition.exceptSites->list);
            if (!group || list == lists.end()) continue;
            exceptSites = list->second;
            exceptGroup = *group;
        }
        regex->setWorkLimit(matchWorkLimit);
        auto prefilter = RulePrefilter::fromPattern(definition.pattern);
        auto alternatives = topLevelAlternatives(definition.pattern);
        auto relaxed = relaxed_pattern::fromPattern(definition.pattern);
        rules_.push_back(CompiledRule{std::move(definition), std::move(*regex), std::move(prefilter),
                                      std::move(alternatives), std::move(exceptSites), exceptGroup,
                                      CompiledRule::RelaxedScreen(relaxed ? std::move(*relaxed) : std::string())});
    }
    std::map<std::string_view, std::size_t> indices;
    for (std::size_t index = 0; index < rules_.size(); ++index)
        indices.emplace(rules_[index].definition.id, index);
    for (auto& rule : rules_) {
        for (const auto& id : rule.definition.supersededBy) {
            if (const auto found = indices.find(id); found != indices.end()) rule.supersededBy.push_back(found->second);
        }
    }
    screen_ = RuleScreen(rules_);
    rulesProblem_ = rules_.empty() ? std::optional(RulesProblem::noRuleCompiles) : std::nullopt;
}

std::string CommandGuard::normalizedCommand(std::string_view text) {
    // One left-to-right pass does what replacing backslash+CRLF, backslash+LF, backquote+CRLF and
    // backquote+LF one after the other does: a replacement is a space and cannot form a new pair.
    std::string joined;
    joined.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' || c == '`') {
            if (text.compare(i + 1, 2, "\r\n") == 0) {
                joined += ' ';
                i += 2;
                continue;
            }
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                joined += ' ';
                i += 1;
                continue;
            }
        }
        joined += c;
    }
    return std::string(text::trim(joined));
}

std::optional<CommandGuard::ExaminedCommand> CommandGuard::examinedCommand(std::string_view text) {
    std::string command = normalizedCommand(text);
    const std::string_view trimmed = text::trim(text);
    const bool joined = command != trimmed;
    // The limit is on the text as UTF-8: a byte that is not UTF-8 counts as the three bytes of the
    // U+FFFD it becomes. Repairing only ever lengthens a text, so one already too long is spared it.
    const bool valid = command.size() > maximumCommandBytes || text::isValidUtf8(command);
    if (!valid) command = repairedUtf8(command);
    if (command.size() > maximumCommandBytes) return std::nullopt;
    std::string pasted;
    if (joined) pasted = valid ? std::string(trimmed) : repairedUtf8(trimmed);
    return ExaminedCommand(std::move(command), std::move(pasted), isNeutralizedText(trimmed));
}

std::optional<CommandRiskResult> CommandGuard::analyze(std::string_view text, CommandRiskSeverity threshold) const {
    auto command = examinedCommand(text);
    if (!command) return std::nullopt;
    return analyze(std::move(*command), threshold).result;
}

CommandGuard::Verdict CommandGuard::analyze(ExaminedCommand examined, CommandRiskSeverity threshold) const {
    std::string& command = examined.text_;
    Verdict verdict;
    // A moved-from guard has no lock and no rules.
    if (command.empty() || examined.neutralized_ || !matchLock_) return verdict;
    // Views whose text equals the command are never made, so a plain command costs one pass.
    const auto views = CommandGuard::views(examined);
    std::vector<CommandRiskFinding> findings;
    std::vector<bool> matched(rules_.size(), false);
    {
        std::lock_guard lock(*matchLock_);
        matchRules(command, {}, threshold, matched, findings, verdict.unfinished);
        for (const auto& view : views)
            matchRules(view.text, view.origin, threshold, matched, findings, verdict.unfinished);
    }
    // One problem, one finding: a rule's finding gives way to that of a rule that tells of it better.
    std::erase_if(findings, [&](const CommandRiskFinding& finding) {
        const auto rule = std::find_if(rules_.begin(), rules_.end(),
                                       [&](const CompiledRule& r) { return r.definition.id == finding.id; });
        return rule != rules_.end() &&
               std::any_of(rule->supersededBy.begin(), rule->supersededBy.end(),
                           [&](std::size_t index) { return static_cast<bool>(matched[index]); });
    });
    if (findings.empty()) return verdict;
    std::stable_sort(findings.begin(), findings.end(), precedesInVerdict);

    CommandRiskResult& result = verdict.result.emplace();
    result.command = std::move(command);
    result.severity = findings.front().severity;
    result.findings = std::move(findings);
    result.rulesVersion = rulesVersion_;
    return verdict;
}

std::vector<CommandView> CommandGuard::views(const ExaminedCommand& command) {
    return command_views::derive(command.text(), command.pasted(), maximumViewBytes);
}

void CommandGuard::matchRules(std::string_view text, std::string_view view, CommandRiskSeverity threshold,
                              std::vector<bool>& matched, std::vector<CommandRiskFinding>& findings,
                              bool& unfinished) const {
    const RuleScreen::Candidates candidates = screen_.candidates(text);
    const SearchText searchText(text);
    // Most candidates that pass the literal screen still do not match; the looser forms' DFAs prove
    // that in one pass each, for texts they can read.
    const std::optional<std::string> relaxedText = relaxed_pattern::relaxedText(text);
    for (std::size_t index = 0; index < rules_.size(); ++index) {
        const auto& rule = rules_[index];
        if (matched[index] || rule.definition.severity < threshold || !candidates.rule(index)) continue;
        if (relaxedText && !rule.relaxed.mayMatch(*relaxedText)) continue;
        bool hitLimit = false;
        auto match = rule.firstMatch(searchText, candidates.alternatives(index), hitLimit);
        // A match whose sites are all listed passes; a later one may not. A text made of nothing but
        // listed installers is not searched without end: past a number of them it is left unfinished.
        for (std::size_t tries = 0; match && !rule.matchStands(text, *match); ++tries) {
            if (tries == maximumListedMatches) {
                match.reset();
                hitLimit = true;
                break;
            }
            match = rule.firstMatch(searchText, candidates.alternatives(index), hitLimit, match->whole.begin + 1);
        }
        if (!match) {
            unfinished = unfinished || hitLimit;
            continue;
        }
        matched[index] = true;
        const auto& range = match->whole;
        std::string fragment;
        if (range.begin <= range.end && range.end <= text.size())
            fragment = matchedFragment(text.substr(range.begin, range.end - range.begin));
        const auto& definition = rule.definition;
        findings.push_back(CommandRiskFinding{definition.id, definition.platform, definition.severity,
                                              definition.summary, definition.explanation, std::move(fragment),
                                              std::string(view)});
    }
}

std::string CommandGuard::neutralizedCommand(std::string_view text) {
    const std::string command = normalizedCommand(text);
    std::string out(neutralizedHeader);
    out.reserve(out.size() + command.size() + 16);
    out += "# ";
    for (std::size_t i = 0; i < command.size(); ++i) {
        out += command[i];
        if (endsLine(command, i) && i + 1 < command.size()) out += "# ";
    }
    return out;
}

fs::path CommandGuard::rulesRootURL(const Paths& paths) {
    return paths.applicationSupportDirectory() / kAppFolder / "rules";
}

fs::path CommandGuard::defaultInstalledRulesURL(const Paths& paths) {
    const fs::path root = rulesRootURL(paths);
    for (const char* bundle : {"active", "previous"}) {
        fs::path candidate = root / bundle / installedRulesFileName;
        const auto data = readFileContents(candidate);
        if (data && ruleBundleVersion(*data)) return candidate;
    }
    return paths.applicationSupportDirectory() / kAppFolder / "command-guard" / "active" / installedRulesFileName;
}

std::optional<std::string> CommandGuard::ruleBundleVersion(std::string_view data) {
    auto bundle = RuleBundle::decode(data);
    if (!bundle || text::trim(bundle->currentVersion).empty()) return std::nullopt;
    return std::move(bundle->currentVersion);
}

}  // namespace tessaril
