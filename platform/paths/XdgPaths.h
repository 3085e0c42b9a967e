// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Paths.h"
#include "platform/paths/Environment.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace tessaril {

// The per-user folders of a freedesktop system: $XDG_DATA_HOME (default ~/.local/share) for data,
// $XDG_CONFIG_HOME (default ~/.config) for preferences. The folders are read once, when the object
// is made, and are not created.
class XdgPaths final : public Paths {
public:
    // From the process environment.
    XdgPaths();
    explicit XdgPaths(const EnvironmentLookup& environment);

    [[nodiscard]] std::filesystem::path applicationSupportDirectory() const override { return dataHome_; }
    [[nodiscard]] std::filesystem::path configDirectory() const override { return configHome_; }
    [[nodiscard]] std::filesystem::path homeDirectory() const override { return home_; }
    // Linux has no containers shared by a group of applications.
    [[nodiscard]] std::optional<std::filesystem::path> sharedContainer(std::string_view) const override {
        return std::nullopt;
    }

private:
    std::filesystem::path home_;
    std::filesystem::path dataHome_;
    std::filesystem::path configHome_;
};

}  // namespace tessaril
