// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/updates/RuleManifestSignature.h"

namespace tessaril {

class Clock;
class DesktopShell;
class HttpsClient;
class Notifier;
class Pasteboard;
class Paths;
class ResourceBundle;
class TaskExecutor;
class UserDefaults;

// The services the application runs on. main() makes the real ones (SQLite defaults, the Qt event
// loop, the display server's clipboard, D-Bus notifications, libcurl); the shell's tests pass the
// in-memory ones. Everything here outlives the application state.
struct AppPlatform {
    UserDefaults& defaults;
    TaskExecutor& executor;
    Pasteboard& pasteboard;
    Notifier& notifier;
    HttpsClient& https;
    const Clock& clock;
    const Paths& paths;
    // The shipped rules; absent when they cannot be found (every component then uses its fallbacks).
    const ResourceBundle* resources;
    DesktopShell& shell;
    // The key rule manifests must be signed with: the product's own, unless a test publishes rules.
    RuleSigningKey rulesSigningKey = RuleManifestSignature::releaseKey;
};

}  // namespace tessaril
