// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/updates/DesktopReleaseInfo.h"

#include <optional>
#include <string>
#include <variant>

namespace tessaril {

// What the desktop update checker is doing or found.
class DesktopUpdateStatus {
public:
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    struct Checking {
        bool operator==(const Checking&) const = default;
    };
    struct UpToDate {
        bool operator==(const UpToDate&) const = default;
    };
    // Every failure looks the same to the user.
    struct Failed {
        bool operator==(const Failed&) const = default;
    };
    struct Available {
        DesktopReleaseInfo release;
        bool operator==(const Available&) const = default;
    };
    using State = std::variant<Idle, Checking, UpToDate, Failed, Available>;

    DesktopUpdateStatus() = default;
    // NOLINTNEXTLINE(google-explicit-constructor): a status is any one of its cases.
    template <typename Case>
    requires std::is_constructible_v<State, Case> DesktopUpdateStatus(Case state) : state_(std::move(state)) {}

    [[nodiscard]] const State& state() const { return state_; }
    // "Checking...", "Tessaril is up to date.", "Could not check for updates. Try again later.",
    // "Update available: Tessaril 1.4 (Build 41)." (without a build: "Update available: Tessaril
    // 1.4."); nothing for idle.
    [[nodiscard]] std::optional<std::string> displayText() const;

    bool operator==(const DesktopUpdateStatus&) const = default;

private:
    State state_ = Idle{};
};

}  // namespace tessaril
