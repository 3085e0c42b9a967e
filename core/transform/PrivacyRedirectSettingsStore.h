// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Signal.h"
#include "core/foundation/UserDefaults.h"
#include "core/transform/PrivacyRedirectSettings.h"

#include <string>

namespace tessaril {

// The privacy redirect settings as the preferences edit them: read once from the defaults at
// construction, each change written through under its own key and announced, so that whoever owns
// the cleaner can copy the new settings into it at once. Lives on the main thread.
class PrivacyRedirectSettingsStore {
public:
    explicit PrivacyRedirectSettingsStore(UserDefaults& defaults);
    PrivacyRedirectSettingsStore(const PrivacyRedirectSettingsStore&) = delete;
    PrivacyRedirectSettingsStore& operator=(const PrivacyRedirectSettingsStore&) = delete;

    [[nodiscard]] const PrivacyRedirectSettings& settings() const { return settings_; }

    // Each setter stores and announces only a real change.
    void setXRedirectEnabled(bool enabled);
    void setRedditRedirectEnabled(bool enabled);
    void setRedditFrontendBaseURL(std::string baseURL);

    // Emitted after every change with all three values.
    [[nodiscard]] Signal<const PrivacyRedirectSettings&>& settingsChanged() { return settingsChanged_; }

private:
    UserDefaults& defaults_;
    PrivacyRedirectSettings settings_;
    Signal<const PrivacyRedirectSettings&> settingsChanged_;
};

}  // namespace tessaril
