// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/PrivacyRedirectSettingsStore.h"

#include <utility>

namespace tessaril {

PrivacyRedirectSettingsStore::PrivacyRedirectSettingsStore(UserDefaults& defaults)
    : defaults_(defaults), settings_(defaults) {}

void PrivacyRedirectSettingsStore::setXRedirectEnabled(bool enabled) {
    if (settings_.xRedirectEnabled == enabled) return;
    settings_.xRedirectEnabled = enabled;
    defaults_.set(PrivacyRedirectSettings::xRedirectEnabledKey, enabled);
    settingsChanged_.emit(settings_);
}

void PrivacyRedirectSettingsStore::setRedditRedirectEnabled(bool enabled) {
    if (settings_.redditRedirectEnabled == enabled) return;
    settings_.redditRedirectEnabled = enabled;
    defaults_.set(PrivacyRedirectSettings::redditRedirectEnabledKey, enabled);
    settingsChanged_.emit(settings_);
}

void PrivacyRedirectSettingsStore::setRedditFrontendBaseURL(std::string baseURL) {
    if (settings_.redditFrontendBaseURL == baseURL) return;
    settings_.redditFrontendBaseURL = std::move(baseURL);
    // Stored as typed: the preferences show the user's own text back, and normalising happens per link.
    defaults_.set(PrivacyRedirectSettings::redditFrontendBaseURLKey, settings_.redditFrontendBaseURL);
    settingsChanged_.emit(settings_);
}

}  // namespace tessaril
