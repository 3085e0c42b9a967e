// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tessaril {

// Where the product keeps and finds files on this machine.
class Paths {
public:
    virtual ~Paths() = default;

    // The per-user folder for application data ("Application Support"); not created here.
    [[nodiscard]] virtual std::filesystem::path applicationSupportDirectory() const = 0;
    // The per-user folder for preferences.
    [[nodiscard]] virtual std::filesystem::path configDirectory() const = 0;
    [[nodiscard]] virtual std::filesystem::path homeDirectory() const = 0;
    // A container shared by a group of applications, where the platform grants one.
    [[nodiscard]] virtual std::optional<std::filesystem::path> sharedContainer(
        std::string_view groupIdentifier) const = 0;
};

// Fixed folders, for tests and for runs that must not touch the user's own.
class FixedPaths final : public Paths {
public:
    explicit FixedPaths(std::filesystem::path root) : root_(std::move(root)) {}

    [[nodiscard]] std::filesystem::path applicationSupportDirectory() const override { return root_ / "data"; }
    [[nodiscard]] std::filesystem::path configDirectory() const override { return root_ / "config"; }
    [[nodiscard]] std::filesystem::path homeDirectory() const override { return root_ / "home"; }
    [[nodiscard]] std::optional<std::filesystem::path> sharedContainer(
        std::string_view groupIdentifier) const override {
        if (auto found = sharedContainers_.find(std::string(groupIdentifier)); found != sharedContainers_.end()) {
            return found->second;
        }
        return std::nullopt;
    }
    void setSharedContainer(std::string groupIdentifier, std::filesystem::path folder) {
        sharedContainers_.insert_or_assign(std::move(groupIdentifier), std::move(folder));
    }

private:
    std::filesystem::path root_;
    std::map<std::string, std::filesystem::path> sharedContainers_;
};

}  // namespace tessaril
