// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tessaril {

// Launch at login on a freedesktop desktop: an entry in the autostart folder of the user's
// configuration folder that starts this very program.
class XdgAutostart {
public:
    // `configHome` is $XDG_CONFIG_HOME (or ~/.config); `executable` the absolute path of the
    // running application.
    XdgAutostart(const std::filesystem::path& configHome, std::filesystem::path executable);

    // Writes the entry (whole or not at all) or removes it; the error's text when that failed.
    [[nodiscard]] std::optional<std::string> setEnabled(bool enabled) const;

    [[nodiscard]] const std::filesystem::path& entryPath() const { return entry_; }

private:
    std::filesystem::path entry_;
    std::filesystem::path executable_;
};

}  // namespace tessaril
