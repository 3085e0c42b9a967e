// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanResult.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// How one clean ended: a cleaned link with its result, a link on a site the user excepted (with the
// normalised host), a link that needed no change, or text that is not a web link.
class CleanOutcome {
public:
    enum class Kind { cleaned, skippedDisabled, unchanged, invalid };

    [[nodiscard]] static CleanOutcome cleaned(CleanResult result) {
        CleanOutcome outcome(Kind::cleaned);
        outcome.result_ = std::move(result);
        return outcome;
    }
    [[nodiscard]] static CleanOutcome skippedDisabled(std::string host) {
        CleanOutcome outcome(Kind::skippedDisabled);
        outcome.host_ = std::move(host);
        return outcome;
    }
    [[nodiscard]] static CleanOutcome unchanged() { return CleanOutcome(Kind::unchanged); }
    [[nodiscard]] static CleanOutcome invalid() { return CleanOutcome(Kind::invalid); }

    [[nodiscard]] Kind kind() const { return kind_; }
    // The result of a cleaned outcome; null for the others.
    [[nodiscard]] const CleanResult* result() const { return result_ ? &*result_ : nullptr; }
    // The normalised host of a skipped outcome; null for the others.
    [[nodiscard]] const std::string* host() const { return kind_ == Kind::skippedDisabled ? &host_ : nullptr; }

    bool operator==(const CleanOutcome&) const = default;

    // {"outcome": raw kind} plus "result" for a cleaned outcome or "host" for a skipped one.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    [[nodiscard]] static std::optional<CleanOutcome> fromJson(const nlohmann::json& json);

private:
    explicit CleanOutcome(Kind kind) : kind_(kind) {}

    // Only the payload of the kind is ever set, so comparing all fields compares outcomes.
    Kind kind_;
    std::optional<CleanResult> result_;
    std::string host_;
};

// "cleaned", "skippedDisabled", "unchanged" or "invalid".
[[nodiscard]] std::string_view rawValue(CleanOutcome::Kind kind);
[[nodiscard]] std::optional<CleanOutcome::Kind> cleanOutcomeKindFromRawValue(std::string_view raw);

}  // namespace tessaril
