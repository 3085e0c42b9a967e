// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/CleanOutcome.h"

#include "core/foundation/JsonFields.h"

namespace tessaril {

std::string_view rawValue(CleanOutcome::Kind kind) {
    switch (kind) {
        case CleanOutcome::Kind::cleaned:
            return "cleaned";
        case CleanOutcome::Kind::skippedDisabled:
            return "skippedDisabled";
        case CleanOutcome::Kind::unchanged:
            return "unchanged";
        case CleanOutcome::Kind::invalid:
            return "invalid";
    }
    return "invalid";
}

std::optional<CleanOutcome::Kind> cleanOutcomeKindFromRawValue(std::string_view raw) {
    for (auto kind : {CleanOutcome::Kind::cleaned, CleanOutcome::Kind::skippedDisabled, CleanOutcome::Kind::unchanged,
                      CleanOutcome::Kind::invalid}) {
        if (rawValue(kind) == raw) return kind;
    }
    return std::nullopt;
}

nlohmann::ordered_json CleanOutcome::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["outcome"] = rawValue(kind());
    if (const CleanResult* cleaned = result()) json["result"] = cleaned->toJson();
    if (const std::string* skipped = host()) json["host"] = *skipped;
    return json;
}

std::optional<CleanOutcome> CleanOutcome::fromJson(const nlohmann::json& json) {
    auto name = json_fields::requiredString(json, "outcome");
    if (!name) return std::nullopt;
    auto kind = cleanOutcomeKindFromRawValue(*name);
    if (!kind) return std::nullopt;
    switch (*kind) {
        case Kind::cleaned: {
            const nlohmann::json* value = json_fields::field(json, "result");
            if (value == nullptr) return std::nullopt;
            auto decoded = CleanResult::fromJson(*value);
            if (!decoded) return std::nullopt;
            return cleaned(std::move(*decoded));
        }
        case Kind::skippedDisabled: {
            auto skipped = json_fields::requiredString(json, "host");
            if (!skipped) return std::nullopt;
            return skippedDisabled(std::move(*skipped));
        }
        case Kind::unchanged:
            return unchanged();
        case Kind::invalid:
            return invalid();
    }
    return std::nullopt;
}

}  // namespace tessaril
