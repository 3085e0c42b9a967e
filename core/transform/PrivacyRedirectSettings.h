// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/UserDefaults.h"

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// The user's choices for the privacy front-end rewrites. Both rewrites stay off until the user turns
// them on. The Reddit front end is kept exactly as typed; it is only normalised when a link is
// rewritten, so that what the user sees in the preferences is what they entered.
struct PrivacyRedirectSettings {
    static constexpr std::string_view xRedirectEnabledKey = "privacyRedirects_xRedirectEnabled";
    static constexpr std::string_view redditRedirectEnabledKey = "privacyRedirects_redditRedirectEnabled";
    static constexpr std::string_view redditFrontendBaseURLKey = "privacyRedirects_redditFrontendBaseURL";

    // The XCancel service root.
    static constexpr std::string_view defaultXFrontendBaseURL = "https://xcancel.com";
    // Our default Redlib instance. safereddit.com is a long-running, widely listed public instance
    // that answers on its bare domain over HTTPS, so a user who only flips the switch gets a front
    // end that is likely to still be there; anyone can pick another one in the preferences.
    static constexpr std::string_view defaultRedditFrontendBaseURL = "https://safereddit.com";

    // Both switches off, default Reddit front end. A function rather than a constant, so that no
    // allocation happens (or can fail) before main.
    [[nodiscard]] static PrivacyRedirectSettings disabled() { return {}; }

    bool xRedirectEnabled = false;
    bool redditRedirectEnabled = false;
    std::string redditFrontendBaseURL = std::string(defaultRedditFrontendBaseURL);

    PrivacyRedirectSettings() = default;
    PrivacyRedirectSettings(bool xRedirectEnabled, bool redditRedirectEnabled, std::string redditFrontendBaseURL);
    // Reads the three keys; a missing (or wrongly typed) switch reads as off, a missing front end
    // as the default one.
    explicit PrivacyRedirectSettings(const UserDefaults& defaults);

    // Writes all three values under their keys.
    void save(UserDefaults& defaults) const;

    // The keys "xRedirectEnabled", "redditRedirectEnabled", "redditFrontendBaseURL".
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // Every key is optional and a missing one takes its default; a key of the wrong JSON type, or a
    // value that is not an object, fails the whole document.
    [[nodiscard]] static std::optional<PrivacyRedirectSettings> fromJson(const nlohmann::json& json);

    bool operator==(const PrivacyRedirectSettings&) const = default;
};

}  // namespace tessaril
