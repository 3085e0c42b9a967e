// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Signal.h"
#include "core/foundation/UserDefaults.h"
#include "core/stores/CustomBlockError.h"
#include "core/stores/CustomBlockRule.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// The user's own list of query parameters to remove, kept in their preferences. The stored document
// is the only truth; rules() and canUndo() are a copy taken by refresh() and by each successful
// edit. An edit made while that copy is stale (another instance or another process changed the
// list) is refused with `conflict` and refreshes the copy, so nobody overwrites a change unseen.
//
// Every instance in the process shares one recursive lock around refresh and the edits, and each
// edit is one transaction of the preferences store, so that edits from other processes are never
// lost either; blocks() takes no lock and may be called from any thread. The observable copy changes on the thread that
// made the edit, and the change signals are emitted there, while the lock is held.
class CustomBlocklistStore {
public:
    static constexpr std::string_view storageKey = "proactive_customBlocks_v1";
    static constexpr std::size_t maximumRules = 256;
    // A stored document larger than this is not read at all.
    static constexpr std::size_t maximumDocumentBytes = 131072;

    // Keeps a reference to `defaults`, which must outlive the store, and refreshes.
    explicit CustomBlocklistStore(UserDefaults& defaults);
    CustomBlocklistStore(const CustomBlocklistStore&) = delete;
    CustomBlocklistStore& operator=(const CustomBlocklistStore&) = delete;

    // The rules in the order they were added.
    [[nodiscard]] std::vector<CustomBlockRule> rules() const;
    [[nodiscard]] Signal<>& rulesChanged() { return rulesChanged_; }
    // True exactly when the stored list remembers the list before its last change.
    [[nodiscard]] bool canUndo() const;
    [[nodiscard]] Signal<>& canUndoChanged() { return canUndoChanged_; }

    // Re-reads the stored list into rules() and canUndo().
    void refresh();

    // The rules of the stored document at one moment, decoded. Answers blocks() for many parameters
    // of one link without reading the store again.
    class Snapshot {
    public:
        // See CustomBlocklistStore::blocks.
        [[nodiscard]] bool blocks(std::string_view parameter, std::string_view host) const;
        [[nodiscard]] bool empty() const { return rules_.empty(); }

    private:
        friend class CustomBlocklistStore;
        Bytes stored_;
        bool hasStored_ = false;
        std::vector<CustomBlockRule> rules_;
    };

    // True when the stored list (read now, not the copy) holds a rule for exactly `parameter` that is
    // global or whose site equals `host` in lower case. No subdomain or "www." matching; pass an
    // empty host for a link without one, so that only global rules apply.
    [[nodiscard]] bool blocks(std::string_view parameter, std::string_view host) const;
    // The stored list read now. The document is decoded again only when its bytes changed since the
    // last call, and not even read while the store's change count stays the same, so asking once
    // per link costs a comparison (or, with a store that does not count, a read).
    [[nodiscard]] std::shared_ptr<const Snapshot> snapshot() const;

    // Each edit returns no value on success (and publishes the new copy), else the reason; with
    // `storeFailed` nothing was saved or published.
    // No site makes a global rule, which replaces the site rules for the same parameter.
    [[nodiscard]] std::optional<CustomBlockError> add(std::string_view parameter,
                                                      std::optional<std::string_view> site = std::nullopt);
    // Removing a rule that is not stored succeeds and changes nothing (the undo state is kept).
    [[nodiscard]] std::optional<CustomBlockError> remove(const CustomBlockRule& rule);
    // Restores the list from before the last add or remove; one level, no redo.
    [[nodiscard]] std::optional<CustomBlockError> undo();

private:
    struct State;
    // Decides an edit from the stored state: the reason it refuses, or nothing, with the state to
    // write in `updated` (left empty when nothing changes).
    using Change = std::function<std::optional<CustomBlockError>(State& stored, std::optional<State>& updated)>;
    [[nodiscard]] static State readState(const UserDefaults& store);
    [[nodiscard]] static State decodeState(const Bytes& bytes);
    [[nodiscard]] static std::optional<std::string> encode(const State& state);
    // Runs `change` on the stored state in one transaction of the store, refusing with `conflict`
    // when that state is not the one this instance shows, then writes and publishes the result.
    [[nodiscard]] std::optional<CustomBlockError> edit(const Change& change);
    void publish(const State& state);

    UserDefaults& defaults_;
    std::vector<CustomBlockRule> rules_;
    bool canUndo_ = false;
    Signal<> rulesChanged_;
    Signal<> canUndoChanged_;
    // The last decoded snapshot; its own lock, because blocks() may run on any thread.
    mutable std::mutex snapshotLock_;
    mutable std::shared_ptr<const Snapshot> snapshot_;
    // The store's change count when snapshot_ was last found current (nothing: not counted).
    mutable std::optional<std::uint64_t> snapshotChanges_;
};

}  // namespace tessaril
