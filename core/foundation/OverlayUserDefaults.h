// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/UserDefaults.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace tessaril {

// Preferences that read through to another store but keep every change in memory: a run that must
// see the user's settings without ever writing them (the command-line cleaner) uses one of these.
// A key set or removed here reads as changed from then on; any other key reads from the store
// underneath, either at the time of every read (live) or once, at its first read, for the life of
// the overlay (snapshot). Suites work the same way, and removing a suite hides what the store
// underneath holds for it. A transaction involves only the overlay (the store underneath is never
// written): it keeps other threads out of the overlay while it runs, and undoing puts the overlay's
// own changes back as they were. Safe to use from several threads.
class OverlayUserDefaults final : public UserDefaults {
public:
    enum class BaseReads {
        // Every read asks the store underneath, so another process's changes show at once.
        live,
        // Each key is read from the store underneath once and remembered (absence too). A short run
        // that reads the same keys for every item it handles (several per cleaned link) then never
        // goes back to a database file, at the price of not seeing edits made meanwhile.
        snapshot,
    };

    // `base` must outlive this object and every suite taken from it.
    explicit OverlayUserDefaults(UserDefaults& base, BaseReads baseReads = BaseReads::live);

    [[nodiscard]] std::optional<DefaultsValue> value(std::string_view key) const override;
    bool set(std::string_view key, DefaultsValue value) override;
    void remove(std::string_view key) override;
    [[nodiscard]] std::unique_ptr<UserDefaults> suite(std::string_view name) override;
    void removeSuite(std::string_view name) override;
    bool transaction(const std::function<bool(UserDefaults&)>& body) override;
    // With snapshot reads the overlay's own changes only; with live reads those and the store's
    // underneath, when it can tell.
    [[nodiscard]] std::optional<std::uint64_t> changeCount() const override;

private:
    // What this overlay knows better than the store: set values, and removed keys (no value).
    struct Layer {
        std::map<std::string, std::optional<DefaultsValue>, std::less<>> entries;
        // After removeSuite, keys without an entry read as absent instead of reading through.
        bool hidesBase = false;
        // What the store underneath answered, with BaseReads::snapshot.
        std::map<std::string, std::optional<DefaultsValue>, std::less<>> baseValues;
    };
    using Layers = std::map<std::string, Layer, std::less<>>;
    struct Storage {
        // Recursive, because a transaction's body reads and writes while the transaction holds it.
        std::recursive_mutex mutex;
        Layers suites;
        // Every set, removal and transaction of the overlay, in any suite, counts one.
        std::atomic<std::uint64_t> changes{0};
    };
    OverlayUserDefaults(std::unique_ptr<UserDefaults> ownedBase, std::shared_ptr<Storage> storage,
                        std::string suiteName, BaseReads baseReads);

    std::unique_ptr<UserDefaults> ownedBase_;
    UserDefaults& base_;
    std::shared_ptr<Storage> storage_;
    std::string suiteName_;
    BaseReads baseReads_;
};

}  // namespace tessaril
