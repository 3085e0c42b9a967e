// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/PrivacyRedirectInfo.h"

#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

nlohmann::ordered_json PrivacyRedirectInfo::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["service"] = rawValue(service);
    json["originalHost"] = originalHost;
    json["frontendHost"] = frontendHost;
    return json;
}

std::optional<PrivacyRedirectInfo> PrivacyRedirectInfo::fromJson(const nlohmann::json& json) {
    auto serviceName = json_fields::requiredString(json, "service");
    auto originalHost = json_fields::requiredString(json, "originalHost");
    auto frontendHost = json_fields::requiredString(json, "frontendHost");
    if (!serviceName || !originalHost || !frontendHost) return std::nullopt;
    auto service = privacyRedirectServiceFromRawValue(*serviceName);
    if (!service) return std::nullopt;
    return PrivacyRedirectInfo{*service, std::move(*originalHost), std::move(*frontendHost)};
}

}  // namespace tessaril
