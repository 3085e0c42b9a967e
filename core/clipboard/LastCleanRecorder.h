// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/clipboard/LastCleanRecord.h"
#include "core/foundation/Clock.h"
#include "core/foundation/Signal.h"

#include <mutex>
#include <optional>
#include <string>

namespace tessaril {

// Remembers the one most recent clean, in memory only (a restart forgets it), so that the menu can
// undo it once or switch cleaning off for its site.
//
// Writers may be on any thread: every change of the record happens under one lock, and
// takeAndClear() reads and clears in one locked section, so two undo requests can never both get the
// record. currentChanged() is emitted inside that section on the writing thread, so observers see
// the changes in the order they happened; the lock is recursive, so a slot may read current() or
// change the record again. Connect observers before writers start: connecting is not thread-safe.
class LastCleanRecorder {
public:
    // Stamps records with the system clock.
    LastCleanRecorder();
    // Stamps records with `clock`, which must outlive the recorder.
    explicit LastCleanRecorder(const Clock& clock);
    LastCleanRecorder(const LastCleanRecorder&) = delete;
    LastCleanRecorder& operator=(const LastCleanRecorder&) = delete;

    // A copy of the record, or nothing.
    [[nodiscard]] std::optional<LastCleanRecord> current() const;
    [[nodiscard]] Signal<const std::optional<LastCleanRecord>&>& currentChanged() { return currentChanged_; }

    // Replaces any previous record with one stamped now.
    void record(std::string original, std::string cleaned, std::string surface);
    // Hands out the record and forgets it, so one clean is undone at most once.
    [[nodiscard]] std::optional<LastCleanRecord> takeAndClear();
    // Forgets the record (after the user disabled cleaning for its site).
    void clear();

private:
    void publishLocked();

    const Clock& clock_;
    mutable std::recursive_mutex lock_;
    std::optional<LastCleanRecord> current_;
    Signal<const std::optional<LastCleanRecord>&> currentChanged_;
};

}  // namespace tessaril
