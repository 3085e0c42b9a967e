// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CleanCommand.h"

#include <unistd.h>
#include <CLI/CLI.hpp>

#include <iostream>
#include <istream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>
#include <system_error>
#include <utility>

#include "cli/LineReader.h"
#include "cli/LineWriter.h"
#include "cli/ToolContext.h"
#include "core/cleaning/CleanOutcome.h"
#include "core/cleaning/TrackingImpactAnalyzer.h"
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/Text.h"
#include "core/transform/PrivacyRedirectSettings.h"
#include "core/transform/PrivacyRedirector.h"

namespace tessaril::cli {

namespace {

// Inputs are arbitrary bytes: text that is not UTF-8 is shown with replacement characters rather
// than making the JSON line unwritable.
std::string jsonLine(const nlohmann::ordered_json& json) {
    return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

class CleanRun {
public:
    CleanRun(const CleanOptions& options, URLCleaner& cleaner, std::ostream& out, std::ostream& err)
        : options_(options), cleaner_(cleaner), out_(out, options.lineBuffered), err_(err, options.lineBuffered) {}

    // Answers one line, ending the answer as the line ended (a last line without an ending gets a
    // line feed). Returns false once the output can no longer be written, so the caller stops reading.
    bool process(std::string_view input, std::string_view ending) {
        // About one line in seven is not a link at all; the cleaner would refuse it after parsing
        // it, so it is refused here first, with the same outcome, for a fraction of the cost.
        const CleanOutcome outcome = mayBeWebLink(input) ? cleaner_.cleanWithOutcome(input) : CleanOutcome::invalid();
        const CleanResult* result = outcome.result();
        // Only a cleaned link replaces the input; anything else passes through untouched.
        const std::string_view printed = result != nullptr ? std::string_view(result->cleanedURL) : input;
        if (ending.empty()) ending = "\n";
        if (options_.json) {
            out_.writeLine({jsonLine(describe(input, outcome, printed))}, ending);
        } else {
            out_.writeLine({printed}, ending);
        }
        if (result != nullptr && !options_.quiet) {
            summary_.clear();
            TrackingImpactAnalyzer::appendSummary(*result, summary_);
            err_.writeLine({"tessaril: ", summary_});
        }
        return !out_.failed();
    }

    bool finish() {
        out_.flush();
        err_.flush();
        return !out_.failed();
    }

private:
    // The cleaner takes only http and https links, in lower case, after trimming the same way.
    static bool mayBeWebLink(std::string_view input) {
        const std::string_view trimmed = text::trim(input);
        return trimmed.starts_with("http://") || trimmed.starts_with("https://");
    }

    static nlohmann::ordered_json describe(std::string_view input, const CleanOutcome& outcome,
                                           std::string_view printed) {
        nlohmann::ordered_json json = nlohmann::ordered_json::object();
        json["input"] = input;
        json["outcome"] = rawValue(outcome.kind());
        json["url"] = printed;
        if (const std::string* host = outcome.host()) json["host"] = *host;
        if (const CleanResult* result = outcome.result()) {
            json["result"] = result->toJson();
            json["impact"] = result->trackingImpactReport().toJson();
        }
        return json;
    }

    const CleanOptions& options_;
    URLCleaner& cleaner_;
    LineWriter out_;
    LineWriter err_;
    // The impact summary of the current link; kept from line to line for its capacity.
    std::string summary_;
};

}  // namespace

CLI::App* addCleanCommand(CLI::App& app, CleanOptions& options) {
    auto* command = app.add_subcommand("clean", "Clean links (the default): each URL, or each line of standard input");
    command->add_option("URL", options.urls, "Links to clean; without any, every line of standard input is one");
    command->add_flag("-q,--quiet", options.quiet, "Print nothing on standard error");
    command->add_flag("--json", options.json, "Print one JSON object per input (JSON Lines)");
    command->add_flag("--line-buffered", options.lineBuffered, "Write out every line at once");
    auto* xOn = command->add_flag_callback(
        "--x-redirect", [&options] { options.xRedirect = true; }, "Rewrite X/Twitter links to the privacy front end");
    auto* xOff = command->add_flag_callback(
        "--no-x-redirect", [&options] { options.xRedirect = false; }, "Do not rewrite X/Twitter links");
    xOn->excludes(xOff);
    auto* redditOn = command->add_flag_callback(
        "--reddit-redirect", [&options] { options.redditRedirect = true; }, "Rewrite Reddit links to a front end");
    auto* redditOff = command->add_flag_callback(
        "--no-reddit-redirect", [&options] { options.redditRedirect = false; }, "Do not rewrite Reddit links");
    redditOn->excludes(redditOff);
    command
        ->add_option_function<std::string>(
            "--reddit-frontend", [&options](const std::string& url) { options.redditFrontend = url; },
            "The Reddit front end to rewrite to")
        ->type_name("URL");
    return command;
}

std::vector<std::string> withDefaultCommand(const CLI::App& app, std::vector<std::string> arguments) {
    if (!arguments.empty()) {
        const std::string& first = arguments.front();
        const auto subcommands = app.get_subcommands([&first](const CLI::App* sub) { return sub->check_name(first); });
        if (!subcommands.empty()) return arguments;
        if (first.starts_with("-") && first != "--") {
            const auto own = app.get_options([&first](const CLI::Option* option) { return option->check_name(first); });
            if (!own.empty()) return arguments;
        }
    }
    arguments.insert(arguments.begin(), "clean");
    return arguments;
}

ExitStatus runClean(const CleanOptions& options, const std::optional<std::filesystem::path>& rulesDirectory,
                    std::istream& in, std::ostream& out, std::ostream& err) {
    ToolContext context(err, ToolContext::StoreAccess::readOnly);
    if (!context.loadRules(rulesDirectory)) return ExitStatus::rulesUnreadable;

    PrivacyRedirectSettings settings(context.defaults());
    if (options.xRedirect) settings.xRedirectEnabled = *options.xRedirect;
    if (options.redditRedirect) settings.redditRedirectEnabled = *options.redditRedirect;
    if (options.redditFrontend) {
        settings.redditFrontendBaseURL = *options.redditFrontend;
        if (!PrivacyRedirector::normalizedFrontendBaseURL(*options.redditFrontend, std::nullopt)) {
            err << "tessaril: --reddit-frontend \"" << text::escapedForTerminal(*options.redditFrontend)
                << "\" is not an http(s) address of a site; using "
                << PrivacyRedirectSettings::defaultRedditFrontendBaseURL << '\n';
        }
    }
    URLCleaner& cleaner = context.makeCleaner(std::move(settings));
    return cleanInputs(options, cleaner, in, out, err);
}

ExitStatus cleanInputs(const CleanOptions& options, URLCleaner& cleaner, std::istream& in, std::ostream& out,
                       std::ostream& err) {
    // The counts would only go to the in-memory overlay, which nobody reads after the run; keeping
    // them (one settings read and two rule lookups per match) would cost more than some cleaning.
    cleaner.setMatchCounting(URLCleaner::MatchCounting::off);
    // Plain output prints the cleaned links and, unless quiet, the impact summary, which reads only
    // what the lean result keeps; the rule identifiers and operations are for JSON alone.
    cleaner.setResultDetail(options.json ? URLCleaner::ResultDetail::full : URLCleaner::ResultDetail::cleanedURLOnly);

    CleanRun run(options, cleaner, out, err);
    bool writable = true;
    auto answerEveryLine = [&run, &writable](LineReader& reader) {
        while (writable) {
            const auto line = reader.next();
            if (!line) break;
            writable = run.process(*line, reader.ending());
        }
    };
    std::error_code readError;
    if (!options.urls.empty()) {
        for (const auto& url : options.urls) {
            if (!writable) break;
            // An argument is split into lines like standard input, so that one holding a line break
            // is still answered line for line; an empty one is one empty line.
            if (url.empty()) {
                writable = run.process(url, {});
                continue;
            }
            LineReader reader(
                [&url, offset = std::size_t{0}](char* data, std::size_t size) mutable -> LineReader::Read {
                    const std::size_t copied = url.copy(data, size, offset);
                    offset += copied;
                    return {copied, {}};
                },
                url.size());
            answerEveryLine(reader);
        }
    } else {
        // Standard input is read as it arrives, and everything answered so far is written out before
        // waiting for more: a slow producer (`tail -f`, a person typing) sees each link cleaned at
        // once, while a file or a fast pipe still goes through in large blocks.
        LineReader::Source source;
        if (&in == &std::cin) {
            source = [&run, read = descriptorSource(STDIN_FILENO)](char* data, std::size_t size) {
                run.finish();
                return read(data, size);
            };
        }
        LineReader reader = source ? LineReader(std::move(source)) : LineReader(in);
        answerEveryLine(reader);
        readError = reader.error();
    }
    // A failed write stopped the reading above; the caller turns it into the output-failed status.
    run.finish();
    if (readError) {
        if (readError == std::errc::is_a_directory) {
            err << "tessaril: standard input is a folder\n";
        } else {
            err << "tessaril: standard input could not be read (" << readError.message() << ")\n";
        }
        return ExitStatus::usage;
    }
    return ExitStatus::success;
}

}  // namespace tessaril::cli
