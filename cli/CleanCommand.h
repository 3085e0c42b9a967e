// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/ExitStatus.h"

namespace CLI {
class App;
}

namespace tessaril {
class URLCleaner;
}

namespace tessaril::cli {

// `tessaril [clean] [OPTIONS] [URL ...]`: cleans each URL argument, or each line of standard input
// when there is none, and prints one line per input in input order.
struct CleanOptions {
    std::vector<std::string> urls;
    bool quiet = false;
    bool json = false;
    bool lineBuffered = false;
    // Overrides of the stored privacy redirect settings, for this run only.
    std::optional<bool> xRedirect;
    std::optional<bool> redditRedirect;
    std::optional<std::string> redditFrontend;
};

// Registers the "clean" subcommand and its options, bound to `options`.
CLI::App* addCleanCommand(CLI::App& app, CleanOptions& options);

// Cleaning is what people run the tool for, so it needs no subcommand name: unless the first
// argument names a subcommand of `app` or asks the tool itself for help or its version, the
// arguments are taken as those of "clean". "--" makes a leading "rules" a link to clean.
[[nodiscard]] std::vector<std::string> withDefaultCommand(const CLI::App& app, std::vector<std::string> arguments);

// Runs the clean. The user's stored switches, custom rules, blocklist and site exceptions apply,
// but nothing is written to their store: counts and the last clean stay in memory for the run.
ExitStatus runClean(const CleanOptions& options, const std::optional<std::filesystem::path>& rulesDirectory,
                    std::istream& in, std::ostream& out, std::ostream& err);

// The clean itself, with a cleaner set up by the caller (which it sets to count nothing and to fill
// in only what the output shows): each URL of `options` or, without any, each line of `in` is
// answered on `out` with the cleaned link, or the line itself when there is nothing to clean (byte
// for byte), or its JSON description.
//
// One line in gives exactly one line out. An argument is split into lines the way standard input is
// (an empty argument is one empty line), and each answer ends the way its line did: "\r\n" or "\n"
// (a last line without either gets "\n"). Standard input that cannot be read (a folder, an I/O
// error) is answered up to where reading failed and then ends the run with a message and `usage`.
ExitStatus cleanInputs(const CleanOptions& options, URLCleaner& cleaner, std::istream& in, std::ostream& out,
                       std::ostream& err);

}  // namespace tessaril::cli
