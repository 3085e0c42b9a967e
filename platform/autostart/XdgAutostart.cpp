// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/autostart/XdgAutostart.h"

#include <cerrno>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

namespace tessaril {

namespace {

std::string failure(std::string_view what, const std::filesystem::path& path, const std::error_code& error) {
    return std::string(what) + " " + path.string() + ": " + error.message();
}

// `path` as one argument of a desktop entry's Exec line, escaped for the entry's string syntax too.
std::string desktopExecArgument(const std::string& path) {
    // Arguments holding any of these are quoted; inside quotes, these four take a backslash.
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    constexpr std::string_view kEscapedInQuotes = "\"`$\\";
    std::string argument;
    const bool quoted = path.find_first_of(kReserved) != std::string::npos;
    if (quoted) argument += '"';
    for (const char c : path) {
        if (quoted && kEscapedInQuotes.find(c) != std::string_view::npos) argument += '\\';
        if (c == '%') argument += '%';  // a field code otherwise
        argument += c;
    }
    if (quoted) argument += '"';
    // The value is also a desktop entry string, where a backslash and a line break are escaped.
    std::string value;
    for (const char c : argument) {
        if (c == '\\') {
            value += "\\\\";
        } else if (c == '\n') {
            value += "\\n";
        } else {
            value += c;
        }
    }
    return value;
}

}  // namespace

XdgAutostart::XdgAutostart(const std::filesystem::path& configHome, std::filesystem::path executable)
    : entry_(configHome / "autostart" / "tessaril.desktop"), executable_(std::move(executable)) {}

std::optional<std::string> XdgAutostart::setEnabled(bool enabled) const {
    std::error_code error;
    if (!enabled) {
        std::filesystem::remove(entry_, error);
        if (error) return failure("cannot remove", entry_, error);
        return std::nullopt;
    }
    const auto folder = entry_.parent_path();
    std::filesystem::create_directories(folder, error);
    if (error) return failure("cannot create", folder, error);
    // Written beside the entry, then renamed over it: a login never finds half an entry.
    auto temporary = entry_;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Tessaril\n"
               "Exec="
            << desktopExecArgument(executable_.string())
            << "\n"
               "X-GNOME-Autostart-enabled=true\n";
        out.close();
        if (!out) {
            const std::error_code writeError(errno != 0 ? errno : EIO, std::generic_category());
            std::filesystem::remove(temporary, error);
            return failure("cannot write", temporary, writeError);
        }
    }
    std::filesystem::rename(temporary, entry_, error);
    if (error) {
        const auto renameError = error;
        std::filesystem::remove(temporary, error);
        return failure("cannot write", entry_, renameError);
    }
    return std::nullopt;
}

}  // namespace tessaril
