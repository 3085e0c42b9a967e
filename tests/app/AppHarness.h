// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An application state on in-memory ports: the shipped rules, a clipboard, an executor stepped by
// hand, a scripted web, a clock on 7 December 2026, 09:00 UTC, and a desktop that records what it
// was asked to do.

#include "app/state/AppPlatform.h"
#include "app/state/AppState.h"
#include "app/state/DesktopShell.h"
#include "core/foundation/Clock.h"
#include "core/foundation/Dates.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/ManualTaskExecutor.h"
#include "core/foundation/Notifier.h"
#include "core/foundation/Pasteboard.h"
#include "core/foundation/Paths.h"
#include "core/foundation/ResourceBundle.h"
#include "core/foundation/ScriptedHttpsClient.h"
#include "tests/support/SigningKeyPair.h"
#include "tests/support/TemporaryDirectory.h"

#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril::testing {

class RecordingShell final : public DesktopShell {
public:
    void openWindow(const std::string& identifier) override { calls.push_back("open " + identifier); }
    bool openUrl(const std::string& url) override {
        if (beforeOpeningUrl) beforeOpeningUrl();
        calls.push_back("url " + url);
        return true;
    }
    std::optional<std::string> setLaunchAtLogin(bool enabled) override {
        calls.push_back(enabled ? "login on" : "login off");
        return launchAtLoginError;
    }
    void quit() override { calls.push_back("quit"); }

    std::optional<std::string> launchAtLoginError;
    std::function<void()> beforeOpeningUrl;
    std::vector<std::string> calls;
};

struct AppHarness {
    // Makes the state, as the application does at start.
    AppState& start() {
        state = std::make_unique<AppState>(platform, out, err);
        return *state;
    }

    // Another program copies `text`, and the next poll comes.
    void copy(std::string_view text) {
        pasteboard.copyText(text);
        executor.fireTimers();
    }
    [[nodiscard]] std::string clipboard() const { return pasteboard.plainText().value_or("<no text>"); }

    TemporaryDirectory folder;
    FixedPaths paths{folder.path()};
    ResourceBundle resources{TESSARIL_SHIPPED_BUNDLE_DIR};
    InMemoryUserDefaults defaults;
    ManualTaskExecutor executor;
    InMemoryPasteboard pasteboard;
    RecordingNotifier notifier;
    ScriptedHttpsClient web;
    SettableClock clock{*parseInternetDateTime("2026-12-07T09:00:00Z"), "UTC"};
    RecordingShell shell;
    SigningKeyPair signingKey;
    AppPlatform platform{defaults, executor, pasteboard, notifier, web,
                         clock,    paths,    &resources, shell,    signingKey.publicKey()};
    std::ostringstream out;
    std::ostringstream err;
    std::unique_ptr<AppState> state;
};

}  // namespace tessaril::testing
