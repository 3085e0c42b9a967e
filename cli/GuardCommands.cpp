// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/GuardCommands.h"

#include <algorithm>
#include <istream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/foundation/FileContents.h"
#include "core/foundation/Text.h"
#include "core/guard/CommandGuard.h"
#include "core/guard/CommandViews.h"
#include "platform/paths/CoreResources.h"
#include "platform/paths/XdgPaths.h"

namespace tessaril::cli {

namespace {

// Far beyond what Command Guard examines, but a stream that never ends must not eat the memory.
constexpr std::size_t kMaximumInputBytes = 16U * 1024U * 1024U;

// All of standard input, or nothing when it holds more than kMaximumInputBytes: a text cut there
// would be judged, or neutralized, as something it is not.
std::optional<std::string> readAll(std::istream& in) {
    std::string text;
    char buffer[64 * 1024];
    while (in.read(buffer, sizeof buffer).gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaximumInputBytes) return std::nullopt;
    }
    return text;
}

// Text from the clipboard or a rules file, safe to print and short enough to read.
std::string shown(std::string_view text) {
    constexpr std::size_t kShownCharacters = 200;
    if (text.size() <= kShownCharacters || text::graphemeCount(text) <= kShownCharacters)
        return text::escapedForTerminal(text);
    return text::escapedForTerminal(text::graphemePrefix(text, kShownCharacters)) + "...";
}

// Every finding with its rule, the text it was found in and why it is risky; with none, the views
// that were examined besides the command, so that a person sees what was looked at.
void explain(const std::optional<CommandRiskResult>& result, const std::vector<CommandView>& views, std::ostream& out) {
    if (!result) {
        out << "nothing risky found in the command" << (views.empty() ? "" : " or in how a shell would read it:")
            << '\n';
        for (const auto& view : views)
            out << "  " << command_views::description(view.origin) << ": " << shown(view.text) << '\n';
        return;
    }
    for (const auto& finding : result->findings) {
        if (&finding != &result->findings.front()) out << '\n';
        // A rules file's texts are printed whole, the clipboard's cut to what a person reads.
        out << rawValue(finding.severity) << ": " << text::escapedForTerminal(finding.summary) << '\n';
        out << "  rule: " << text::escapedForTerminal(finding.id) << " (" << text::escapedForTerminal(finding.platform)
            << ")\n";
        if (finding.view.empty()) {
            out << "  found in: the command as pasted\n";
        } else {
            out << "  found in: the command " << command_views::description(finding.view) << '\n';
            const auto view = std::find_if(views.begin(), views.end(), [&](const CommandView& candidate) {
                return candidate.origin == finding.view;
            });
            if (view != views.end()) out << "  which reads: " << shown(view->text) << '\n';
        }
        out << "  matched: " << shown(finding.matchedText) << '\n';
        out << "  why: " << text::escapedForTerminal(finding.explanation) << '\n';
    }
}

void printLine(std::ostream& err, std::string_view message) {
    err << "tessaril: " << text::escapedForTerminal(message) << '\n';
}

}  // namespace

GuardCommands::GuardCommands(CLI::App& app) {
    guardCommand_ = app.add_subcommand(
        "guard",
        "Check a command before running it; exit 1 when it is risky (tessaril guard \"$cmd\" && eval \"$cmd\")");
    guardCommand_->add_option("--threshold", threshold_, "Lowest severity to report (default: warning)")
        ->check(CLI::IsMember({"info", "warning", "danger"}))
        ->type_name("LEVEL");
    guardCommand_
        ->add_option("--rules", rulesFile_, "Use this Command Guard rules file instead of the installed or shipped one")
        ->type_name("FILE");
    auto* json =
        guardCommand_->add_flag("--json", json_, "Print the verdict as JSON (null when nothing was found; see below)");
    guardCommand_
        ->add_flag("--explain", explain_,
                   "Show every finding: its rule, the text it was found in (the command as pasted, or as a shell "
                   "would read it once decoded or unquoted), what matched and why it is risky")
        ->excludes(json);
    guardCommand_->add_option("TEXT", guardText_, "The command to check (default: all of standard input)");
    guardCommand_->footer(
        "Exit status: 0 nothing risky (a blank text too), 1 risky, 2 usage error, 3 no usable rules (the\n"
        "file cannot be read or decoded, or none of its patterns compiles), 5 not examined: longer than\n"
        "32768 bytes once line continuations are joined, the ends trimmed and each byte that is not UTF-8\n"
        "counted as the three of U+FFFD, standard input longer than 16 MB, or a text so costly to search\n"
        "that a rule gave up on it.\n"
        "With --json, standard output always holds one JSON value: null (0), the verdict (1), or\n"
        "{\"error\": \"rulesUnusable\" (3) or \"textNotExamined\" (5), \"message\": the reason given on\n"
        "standard error}.");

    neutralizeCommand_ = app.add_subcommand("neutralize", "Print an inert, commented copy of a command");
    neutralizeCommand_->add_option("TEXT", neutralizeText_, "The command (default: all of standard input)");
    neutralizeCommand_->footer(
        "Exit status: 0 printed, 2 usage error, 5 standard input longer than 16 MB (refused, nothing printed).");
}

bool GuardCommands::parsed() const {
    return guardCommand_->parsed() || neutralizeCommand_->parsed();
}

ExitStatus GuardCommands::run(std::istream& in, std::ostream& out, std::ostream& err) const {
    if (neutralizeCommand_->parsed()) {
        const auto text = neutralizeCommand_->count("TEXT") > 0 ? std::optional(neutralizeText_) : readAll(in);
        if (!text) {
            printLine(err, "the input is longer than 16 MB and was not neutralized");
            return ExitStatus::textNotExamined;
        }
        out << CommandGuard::neutralizedCommand(*text);
        return ExitStatus::success;
    }
    return guard(guardCommand_->count("TEXT") > 0 ? std::optional(guardText_) : readAll(in), out, err);
}

ExitStatus GuardCommands::refuse(ExitStatus status, const std::string& message, std::ostream& out,
                                 std::ostream& err) const {
    printLine(err, message);
    if (json_) {
        const nlohmann::ordered_json refusal = {
            {"error", status == ExitStatus::textNotExamined ? "textNotExamined" : "rulesUnusable"},
            {"message", message}};
        out << refusal.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    }
    return status;
}

ExitStatus GuardCommands::guard(const std::optional<std::string>& text, std::ostream& out, std::ostream& err) const {
    std::optional<CommandGuard> commandGuard;
    std::string rulesSource;
    if (rulesFile_) {
        const auto data = readFileContents(*rulesFile_);
        if (!data) return refuse(ExitStatus::rulesUnreadable, "cannot read " + rulesFile_->string(), out, err);
        commandGuard.emplace(CommandGuard::fromRulesData(*data));
        rulesSource = " in " + rulesFile_->string();
    } else {
        const XdgPaths paths;
        const auto& resources = coreResources();
        commandGuard.emplace(resources ? &*resources : nullptr, &paths);
        if (const auto& passedOver = commandGuard->passedOverInstalledRules()) {
            printLine(err, "passing over the installed Command Guard rules " + passedOver->file.string() + " (" +
                               std::string(CommandGuard::description(passedOver->problem)) + ") for the shipped ones");
        }
    }
    // Without rules every text would pass; a script that runs what passed must not be told "safe".
    if (const auto problem = commandGuard->rulesProblem()) {
        return refuse(
            ExitStatus::rulesUnreadable,
            "no usable Command Guard rules" + rulesSource + ": " + std::string(CommandGuard::description(*problem)),
            out, err);
    }
    if (!text)
        return refuse(ExitStatus::textNotExamined, "the input is longer than 16 MB and was not examined", out, err);
    auto command = CommandGuard::examinedCommand(*text);
    if (!command) {
        return refuse(ExitStatus::textNotExamined,
                      "the text is longer than " + std::to_string(CommandGuard::maximumCommandBytes) +
                          " bytes and was not examined",
                      out, err);
    }

    const auto severity = commandRiskSeverityFromRawValue(threshold_).value_or(CommandRiskSeverity::warning);
    const auto views = explain_ ? CommandGuard::views(*command) : std::vector<CommandView>();
    const auto [result, unfinished] = commandGuard->analyze(std::move(*command), severity);
    if (!result && unfinished) {
        return refuse(ExitStatus::textNotExamined,
                      "a Command Guard rule ran out of time on the text, so it was not judged safe", out, err);
    }
    if (json_)
        out << (result ? result->toJson().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) : "null")
            << '\n';
    if (explain_) explain(result, views, out);
    if (!result) return ExitStatus::success;
    if (!explain_ && !json_) {
        // Summaries come from a rules file and the match from the copied text: either could hold
        // escape sequences that rewrite the warning on screen.
        const auto primary = result->primaryFinding();
        out << rawValue(result->severity) << ": " << text::escapedForTerminal(primary->summary);
        // The match is in a derived text, so it may not appear in the command as pasted.
        if (!primary->view.empty()) out << " (in the command " << command_views::description(primary->view) << ')';
        out << '\n';
        out << "  matched: " << text::escapedForTerminal(primary->matchedText) << '\n';
        if (result->findings.size() > 1) {
            out << "  and " << result->findings.size() - 1 << " more finding"
                << (result->findings.size() > 2 ? "s" : "") << " (--explain or --json shows all)\n";
        }
    }
    return ExitStatus::risky;
}

}  // namespace tessaril::cli
