// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/clipboard/LastCleanRecord.h"

#include "core/foundation/Dates.h"
#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

nlohmann::ordered_json LastCleanRecord::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["originalURL"] = originalURL;
    json["cleanedURL"] = cleanedURL;
    json["cleanedAt"] = formatInternetDateTime(cleanedAt);
    json["surface"] = surface;
    return json;
}

std::optional<LastCleanRecord> LastCleanRecord::fromJson(const nlohmann::json& json) {
    auto originalURL = json_fields::requiredString(json, "originalURL");
    auto cleanedURL = json_fields::requiredString(json, "cleanedURL");
    auto cleanedAtText = json_fields::requiredString(json, "cleanedAt");
    auto surface = json_fields::requiredString(json, "surface");
    if (!originalURL || !cleanedURL || !cleanedAtText || !surface) return std::nullopt;
    auto cleanedAt = parseInternetDateTime(*cleanedAtText);
    if (!cleanedAt) return std::nullopt;
    return LastCleanRecord{std::move(*originalURL), std::move(*cleanedURL), *cleanedAt, std::move(*surface)};
}

std::optional<LastCleanRecord> LastCleanRecord::fromJsonText(std::string_view text) {
    auto json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded()) return std::nullopt;
    return fromJson(json);
}

}  // namespace tessaril
