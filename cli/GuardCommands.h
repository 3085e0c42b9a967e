// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

#include "cli/ExitStatus.h"

namespace tessaril::cli {

// `tessaril guard [--threshold info|warning|danger] [--rules FILE] [--json | --explain] [TEXT]` and
// `tessaril neutralize [TEXT]`. Registered on the tool's app before parsing; neither needs the URL
// rules. Without TEXT, all of standard input is the text.
class GuardCommands {
public:
    explicit GuardCommands(CLI::App& app);
    GuardCommands(const GuardCommands&) = delete;
    GuardCommands& operator=(const GuardCommands&) = delete;

    // Whether the parsed command line chose one of these commands.
    [[nodiscard]] bool parsed() const;
    [[nodiscard]] ExitStatus run(std::istream& in, std::ostream& out, std::ostream& err) const;

private:
    // `text` is absent when standard input was too long to read whole.
    [[nodiscard]] ExitStatus guard(const std::optional<std::string>& text, std::ostream& out, std::ostream& err) const;
    // Says why no verdict was given: on standard error, and with --json on standard output too, as
    // {"error": "textNotExamined" or "rulesUnusable", "message": the same text}.
    [[nodiscard]] ExitStatus refuse(ExitStatus status, const std::string& message, std::ostream& out,
                                    std::ostream& err) const;

    CLI::App* guardCommand_ = nullptr;
    CLI::App* neutralizeCommand_ = nullptr;
    std::string guardText_;
    std::string neutralizeText_;
    std::string threshold_ = "warning";
    std::optional<std::filesystem::path> rulesFile_;
    bool json_ = false;
    bool explain_ = false;
};

}  // namespace tessaril::cli
