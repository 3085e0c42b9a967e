// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanResult.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

namespace tessaril {

// How one clean ended: a cleaned link with its result, a link on a site the user excepted (with the
// normalised host), a link that needed no change, or text that is not a web link.
class CleanOutcome {
public:
    enum class Kind { cleaned, skippedDisabled, unchanged, invalid };

    [[nodiscard]] static CleanOutcome cleaned(CleanResult result) { return CleanOutcome(std::move(result)); }
    [[nodiscard]] static CleanOutcome skippedDisabled(std::string host) {
        return CleanOutcome(SkippedHost{std::move(host)});
    }
    [[nodiscard]] static CleanOutcome unchanged() { return CleanOutcome(Unchanged{}); }
    [[nodiscard]] static CleanOutcome invalid() { return CleanOutcome(Invalid{}); }

    [[nodiscard]] Kind kind() const { return static_cast<Kind>(value_.index()); }
    // The result of a cleaned outcome; null for the others.
    [[nodiscard]] const CleanResult* result() const { return std::get_if<CleanResult>(&value_); }
    // The normalised host of a skipped outcome; null for the others.
    [[nodiscard]] const std::string* host() const {
        const auto* skipped = std::get_if<SkippedHost>(&value_);
        return skipped != nullptr ? &skipped->host : nullptr;
    }

    bool operator==(const CleanOutcome&) const = default;

    // {"outcome": raw kind} plus "result" for a cleaned outcome or "host" for a skipped one.
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    [[nodiscard]] static std::optional<CleanOutcome> fromJson(const nlohmann::json& json);

private:
    struct SkippedHost {
        std::string host;
        bool operator==(const SkippedHost&) const = default;
    };
    struct Unchanged {
        bool operator==(const Unchanged&) const = default;
    };
    struct Invalid {
        bool operator==(const Invalid&) const = default;
    };
    // The alternatives are in the order of Kind.
    using Value = std::variant<CleanResult, SkippedHost, Unchanged, Invalid>;
    explicit CleanOutcome(Value value) : value_(std::move(value)) {}

    Value value_;
};

// "cleaned", "skippedDisabled", "unchanged" or "invalid".
[[nodiscard]] std::string_view rawValue(CleanOutcome::Kind kind);
[[nodiscard]] std::optional<CleanOutcome::Kind> cleanOutcomeKindFromRawValue(std::string_view raw);

}  // namespace tessaril
