// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A clipboard monitor with everything it works with held in memory: the test rules, a clipboard,
// an executor stepped by hand, a scripted web and a clock standing on 5 December 2026, 10:00 UTC.
// Shared by the monitor's tests, its fuzzer and its benchmark.

#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/clipboard/ClipboardMonitor.h"
#include "core/clipboard/LastCleanRecorder.h"
#include "core/foundation/Clock.h"
#include "core/foundation/Dates.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/ManualTaskExecutor.h"
#include "core/foundation/Notifier.h"
#include "core/foundation/Pasteboard.h"
#include "core/foundation/ScriptedHttpsClient.h"
#include "core/guard/RuleBundle.h"
#include "core/notifications/NotificationManager.h"
#include "core/stats/StatsTracker.h"
#include "core/stores/DomainExceptionStore.h"
#include "tests/support/Fixtures.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tessaril::testing {

// Two risky commands the guard knows: piping a download into a shell (a warning) and wiping the
// root folder (danger).
inline std::string monitorGuardRules() {
    return RuleBundle{
        "1.0",
        {{"curl-pipe", "bash", CommandRiskSeverity::warning, "curl [^ ]+ \\| sh", "Pipes a download into a shell", "x"},
         {"rm-root", "bash", CommandRiskSeverity::danger, "rm -rf /", "Deletes everything", "x"}}}
        .toJson()
        .dump();
}

struct MonitorHarness {
    MonitorHarness() {
        engine.loadRules(readFile(std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data/cleaning/providers.json"));
    }

    // Builds the monitor on what is stored and on the clipboard now, and starts its timer.
    ClipboardMonitor& start() { return start(pasteboard); }
    // The same, watching another clipboard.
    ClipboardMonitor& start(Pasteboard& watched) {
        monitor = std::make_unique<ClipboardMonitor>(ClipboardMonitor::Services{
            cleaner, &recorder, stats, notifications, [] { return CommandGuard::fromRulesData(monitorGuardRules()); },
            defaults, watched, executor, network, clock});
        monitor->start();
        return *monitor;
    }

    // Another program copies `text`, and the next poll comes.
    void copy(std::string_view text) {
        pasteboard.copyText(text);
        executor.fireTimers();
    }

    [[nodiscard]] std::int64_t stored(std::string_view key) const { return defaults.intValue(key).value_or(0); }
    [[nodiscard]] std::string clipboard() const { return pasteboard.plainText().value_or("<no text>"); }

    InMemoryUserDefaults defaults;
    SettableClock clock{*parseInternetDateTime("2026-12-05T10:00:00Z"), "UTC"};
    RulesEngine engine{defaults, {nullptr, nullptr, [](std::string_view) {}}};
    DomainExceptionStore exceptions{defaults};
    URLCleaner cleaner{engine, &exceptions};
    LastCleanRecorder recorder{clock};
    StatsTracker stats{defaults, clock};
    RecordingNotifier notifier;
    NotificationManager notifications{defaults, &notifier};
    InMemoryPasteboard pasteboard;
    ManualTaskExecutor executor;
    ScriptedHttpsClient network;
    std::unique_ptr<ClipboardMonitor> monitor;
};

}  // namespace tessaril::testing
