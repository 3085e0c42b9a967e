// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Date.h"
#include "core/updates/RuleUpdateManifest.h"

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace tessaril {

// What the rules updater is doing or last did, as the preferences window shows it.
class RulesUpdateStatus {
public:
    struct Idle {
        bool operator==(const Idle&) const = default;
    };
    struct CheckingManifest {
        bool operator==(const CheckingManifest&) const = default;
    };
    struct Downloading {
        bool operator==(const Downloading&) const = default;
    };
    struct Validating {
        bool operator==(const Validating&) const = default;
    };
    struct Installing {
        bool operator==(const Installing&) const = default;
    };
    struct UpdateAvailable {
        RuleUpdateManifest manifest;
        bool operator==(const UpdateAvailable&) const = default;
    };
    struct UpToDate {
        std::string version;
        bool operator==(const UpToDate&) const = default;
    };
    struct Installed {
        std::string version;
        Date date;
        bool operator==(const Installed&) const = default;
    };
    struct Failed {
        std::string message;
        bool operator==(const Failed&) const = default;
    };
    using State = std::variant<Idle, CheckingManifest, Downloading, Validating, Installing, UpdateAvailable, UpToDate,
                               Installed, Failed>;

    RulesUpdateStatus() = default;
    // NOLINTNEXTLINE(google-explicit-constructor): a status is any one of its cases.
    template <typename Case>
    requires std::is_constructible_v<State, Case> RulesUpdateStatus(Case state) : state_(std::move(state)) {}

    [[nodiscard]] const State& state() const { return state_; }
    // The line shown for the status; nothing for idle. The busy texts end in "…" (one character).
    // The installed date is written in the user's locale, short date and short time.
    [[nodiscard]] std::optional<std::string> displayText() const;
    // While checking, downloading, validating or installing: no second check or install starts.
    [[nodiscard]] bool isBusy() const;

    bool operator==(const RulesUpdateStatus&) const = default;

private:
    State state_ = Idle{};
};

}  // namespace tessaril
