// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/clipboard/LastCleanRecorder.h"

#include <utility>

namespace tessaril {

namespace {

const Clock& systemClock() {
    static const SystemClock clock;
    return clock;
}

}  // namespace

LastCleanRecorder::LastCleanRecorder() : LastCleanRecorder(systemClock()) {}

LastCleanRecorder::LastCleanRecorder(const Clock& clock) : clock_(clock) {}

std::optional<LastCleanRecord> LastCleanRecorder::current() const {
    std::lock_guard guard(lock_);
    return current_;
}

void LastCleanRecorder::record(std::string original, std::string cleaned, std::string surface) {
    LastCleanRecord record{std::move(original), std::move(cleaned), clock_.now(), std::move(surface)};
    std::lock_guard guard(lock_);
    current_ = std::move(record);
    publishLocked();
}

std::optional<LastCleanRecord> LastCleanRecorder::takeAndClear() {
    std::lock_guard guard(lock_);
    if (!current_) return std::nullopt;
    auto taken = std::exchange(current_, std::nullopt);
    publishLocked();
    return taken;
}

void LastCleanRecorder::clear() {
    std::lock_guard guard(lock_);
    if (!current_) return;
    current_.reset();
    publishLocked();
}

void LastCleanRecorder::publishLocked() {
    // Passed as a copy: a slot that changes the record again must not pull the value from under the
    // slots that run after it.
    const std::optional<LastCleanRecord> snapshot = current_;
    currentChanged_.emit(snapshot);
}

}  // namespace tessaril
