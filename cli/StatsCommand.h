// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string>

#include "cli/ExitStatus.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace tessaril::cli {

// `tessaril stats [--window today|7d|30d|all] [--json] | --csv | --reset | --collect on|off`: the
// on-device statistics the tray application keeps, in the same preferences.
//
// Without an action it prints one window (today by default) as a readable summary, or its counts as
// one JSON object with "window" and "collectionEnabled" first; `--csv` prints the statistics export
// byte for byte (no line feed after its last line). Showing never writes (nor creates) the
// preferences file. `--reset` sets every count to zero; `--collect` switches counting off or on,
// keeping what was counted. They print nothing, and a store that cannot be written exits with
// ExitStatus::refused.
class StatsCommand {
public:
    // Registers the command on `app`; keep this object alive while parsing.
    explicit StatsCommand(CLI::App& app);
    StatsCommand(const StatsCommand&) = delete;
    StatsCommand& operator=(const StatsCommand&) = delete;

    [[nodiscard]] bool parsed() const;
    ExitStatus run(std::ostream& out, std::ostream& err) const;

private:
    CLI::App* command_ = nullptr;
    std::string window_ = "today";
    bool json_ = false;
    bool csv_ = false;
    bool reset_ = false;
    CLI::Option* collect_ = nullptr;
    std::string collecting_;
};

}  // namespace tessaril::cli
