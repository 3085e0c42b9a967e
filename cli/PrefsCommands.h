// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string>

#include "cli/ExitStatus.h"

namespace CLI {
class App;
}  // namespace CLI

namespace tessaril::cli {

// `tessaril prefs list | get KEY | set KEY VALUE`: the switches for what the product does on its
// own initiative (all off until turned on) and for its banners, by their stored keys, in the
// preferences the tray application reads. `list` prints "KEY true|false" per line; `get` the value
// alone; reading never writes (nor creates) the preferences file. `set` takes true, false, on or off
// and prints nothing. An unknown key or a value of another type is a usage error; a switch that the
// others keep off, or a store that cannot be written, exits with ExitStatus::refused.
class PrefsCommands {
public:
    // Registers the command and its subcommands on `app`; keep this object alive while parsing.
    explicit PrefsCommands(CLI::App& app);
    PrefsCommands(const PrefsCommands&) = delete;
    PrefsCommands& operator=(const PrefsCommands&) = delete;

    [[nodiscard]] bool parsed() const;
    ExitStatus run(std::ostream& out, std::ostream& err) const;

private:
    CLI::App* prefs_ = nullptr;
    CLI::App* list_ = nullptr;
    CLI::App* get_ = nullptr;
    CLI::App* set_ = nullptr;
    std::string key_;
    std::string value_;
};

}  // namespace tessaril::cli
