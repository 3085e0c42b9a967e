// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/PrivacyRedirectSettings.h"

#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

PrivacyRedirectSettings::PrivacyRedirectSettings(bool xRedirectEnabled, bool redditRedirectEnabled,
                                                 std::string redditFrontendBaseURL)
    : xRedirectEnabled(xRedirectEnabled),
      redditRedirectEnabled(redditRedirectEnabled),
      redditFrontendBaseURL(std::move(redditFrontendBaseURL)) {}

PrivacyRedirectSettings::PrivacyRedirectSettings(const UserDefaults& defaults)
    : xRedirectEnabled(defaults.boolValue(xRedirectEnabledKey).value_or(false)),
      redditRedirectEnabled(defaults.boolValue(redditRedirectEnabledKey).value_or(false)),
      redditFrontendBaseURL(
          defaults.stringValue(redditFrontendBaseURLKey).value_or(std::string(defaultRedditFrontendBaseURL))) {}

void PrivacyRedirectSettings::save(UserDefaults& defaults) const {
    defaults.set(xRedirectEnabledKey, xRedirectEnabled);
    defaults.set(redditRedirectEnabledKey, redditRedirectEnabled);
    defaults.set(redditFrontendBaseURLKey, redditFrontendBaseURL);
}

nlohmann::ordered_json PrivacyRedirectSettings::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["xRedirectEnabled"] = xRedirectEnabled;
    json["redditRedirectEnabled"] = redditRedirectEnabled;
    json["redditFrontendBaseURL"] = redditFrontendBaseURL;
    return json;
}

std::optional<PrivacyRedirectSettings> PrivacyRedirectSettings::fromJson(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    PrivacyRedirectSettings settings;
    // A key may be missing, but a present one of the wrong type means the document is not ours.
    if (json_fields::field(json, "xRedirectEnabled")) {
        auto value = json_fields::requiredBool(json, "xRedirectEnabled");
        if (!value) return std::nullopt;
        settings.xRedirectEnabled = *value;
    }
    if (json_fields::field(json, "redditRedirectEnabled")) {
        auto value = json_fields::requiredBool(json, "redditRedirectEnabled");
        if (!value) return std::nullopt;
        settings.redditRedirectEnabled = *value;
    }
    if (json_fields::field(json, "redditFrontendBaseURL")) {
        auto value = json_fields::requiredString(json, "redditFrontendBaseURL");
        if (!value) return std::nullopt;
        settings.redditFrontendBaseURL = std::move(*value);
    }
    return settings;
}

}  // namespace tessaril
