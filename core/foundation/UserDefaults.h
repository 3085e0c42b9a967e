// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Date.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tessaril {

using Bytes = std::vector<std::uint8_t>;
using DefaultsValue = std::variant<bool, std::int64_t, double, std::string, Bytes, Date>;

// The user's preferences: typed values by key. Reads never fail loudly: a key that is absent or
// holds another type reads as empty. Writes report success, but callers may ignore the result: a
// store that cannot write (read-only folder, locked or corrupt file) keeps what it had.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    [[nodiscard]] virtual std::optional<DefaultsValue> value(std::string_view key) const = 0;
    virtual bool set(std::string_view key, DefaultsValue value) = 0;
    virtual void remove(std::string_view key) = 0;

    // A separate, named set of preferences with the same backing store (used to try things out
    // without touching the user's own values), and the removal of every value it holds.
    [[nodiscard]] virtual std::unique_ptr<UserDefaults> suite(std::string_view name) = 0;
    virtual void removeSuite(std::string_view name) = 0;

    // Runs `body` as one read-modify-write that nobody else sharing the store (another thread, or
    // another process on the same file) can interleave with, so that two edits of one stored
    // document never lose each other's changes. What `body` changes (through the store it is given
    // or this one, in any suite) is kept when it returns true and the store could save it;
    // otherwise all of it is undone and the result is false. A store that cannot be written refuses
    // at once, without running `body`. Inside another transaction this one nests: giving up undoes
    // only its own changes. An exception from `body` undoes its changes and propagates.
    virtual bool transaction(const std::function<bool(UserDefaults&)>& body) = 0;

    // A number that differs from every earlier answer once anything stored may have changed, through
    // this handle or any other on the same store, so that a reader can keep what it decoded until
    // then. Nothing when the store cannot tell without reading the values themselves.
    [[nodiscard]] virtual std::optional<std::uint64_t> changeCount() const { return std::nullopt; }

    [[nodiscard]] bool objectExists(std::string_view key) const { return value(key).has_value(); }
    [[nodiscard]] std::optional<bool> boolValue(std::string_view key) const { return as<bool>(key); }
    [[nodiscard]] std::optional<std::int64_t> intValue(std::string_view key) const { return as<std::int64_t>(key); }
    [[nodiscard]] std::optional<double> doubleValue(std::string_view key) const { return as<double>(key); }
    [[nodiscard]] std::optional<std::string> stringValue(std::string_view key) const { return as<std::string>(key); }
    [[nodiscard]] std::optional<Bytes> dataValue(std::string_view key) const { return as<Bytes>(key); }
    [[nodiscard]] std::optional<Date> dateValue(std::string_view key) const { return as<Date>(key); }

    // JSON documents are stored as data values holding UTF-8 text.
    [[nodiscard]] std::optional<std::string> dataText(std::string_view key) const {
        auto bytes = dataValue(key);
        if (!bytes) return std::nullopt;
        return std::string(bytes->begin(), bytes->end());
    }
    bool setDataText(std::string_view key, std::string_view text) { return set(key, Bytes(text.begin(), text.end())); }

protected:
    // Counts one when it goes out of scope, however the scope is left: a transaction that is undone
    // or throws has changed the store too, to a reader that looked while it ran.
    struct CountOnExit {
        std::atomic<std::uint64_t>& changes;
        explicit CountOnExit(std::atomic<std::uint64_t>& counter) : changes(counter) {}
        CountOnExit(const CountOnExit&) = delete;
        CountOnExit& operator=(const CountOnExit&) = delete;
        ~CountOnExit() { ++changes; }
    };

    // A transaction for a store held in memory, whose lock the caller holds: runs `body` on `store`
    // and, when it gives up or throws, puts `state` back as it was before.
    template <typename State>
    static bool restoringTransaction(State& state, UserDefaults& store,
                                     const std::function<bool(UserDefaults&)>& body) {
        State before = state;
        bool keep = false;
        try {
            keep = body(store);
        } catch (...) {
            state = std::move(before);
            throw;
        }
        if (!keep) state = std::move(before);
        return keep;
    }

private:
    template <typename T>
    [[nodiscard]] std::optional<T> as(std::string_view key) const {
        auto stored = value(key);
        if (!stored) return std::nullopt;
        if (const T* typed = std::get_if<T>(&*stored)) return *typed;
        return std::nullopt;
    }
};

}  // namespace tessaril
