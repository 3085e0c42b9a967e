// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/paths/XdgPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace tessaril {

namespace fs = std::filesystem;

namespace {

// Only absolute folders count: a relative XDG value is meant to be ignored, and a relative home
// would make the store depend on the working directory.
std::optional<fs::path> absoluteFolder(const EnvironmentLookup& environment, std::string_view name) {
    std::optional<std::string> value = environment(name);
    if (!value || value->empty()) return std::nullopt;
    fs::path folder(*value);
    if (!folder.is_absolute()) return std::nullopt;
    return folder;
}

// The account's home from the password database, for sessions started without $HOME.
std::optional<fs::path> homeFromAccount() {
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    if (found->pw_dir == nullptr) return std::nullopt;
    fs::path home(found->pw_dir);
    if (home.empty() || !home.is_absolute()) return std::nullopt;
    return home;
}

}  // namespace

XdgPaths::XdgPaths() : XdgPaths(processEnvironment()) {}

XdgPaths::XdgPaths(const EnvironmentLookup& environment) {
    // With no home at all, "/" keeps every later path absolute; writes there fail instead of landing
    // in whatever folder the program was started from.
    if (auto home = absoluteFolder(environment, "HOME")) {
        home_ = *home;
    } else {
        home_ = homeFromAccount().value_or(fs::path("/"));
    }
    dataHome_ = absoluteFolder(environment, "XDG_DATA_HOME").value_or(home_ / ".local" / "share");
    configHome_ = absoluteFolder(environment, "XDG_CONFIG_HOME").value_or(home_ / ".config");
}

}  // namespace tessaril
