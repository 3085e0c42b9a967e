// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/UserDefaults.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tessaril {

// Preferences held in memory: the test double, and the store of a run that must not persist
// anything. Suites of one instance share their storage, as they do in a real store, and one lock:
// a transaction keeps every other thread out of all of them until it is over. Safe to use from
// several threads.
class InMemoryUserDefaults final : public UserDefaults {
public:
    InMemoryUserDefaults();

    [[nodiscard]] std::optional<DefaultsValue> value(std::string_view key) const override;
    bool set(std::string_view key, DefaultsValue value) override;
    void remove(std::string_view key) override;
    [[nodiscard]] std::unique_ptr<UserDefaults> suite(std::string_view name) override;
    void removeSuite(std::string_view name) override;
    bool transaction(const std::function<bool(UserDefaults&)>& body) override;
    [[nodiscard]] std::optional<std::uint64_t> changeCount() const override { return storage_->changes.load(); }

    // Makes every later write fail, as a full disk or a read-only folder would.
    void setWritable(bool writable);

private:
    using Domain = std::map<std::string, DefaultsValue, std::less<>>;
    using Suites = std::map<std::string, Domain, std::less<>>;
    struct Storage {
        // Recursive, because a transaction's body reads and writes while the transaction holds it.
        std::recursive_mutex mutex;
        Suites suites;
        bool writable = true;
        // Every write and transaction, in any suite, counts one (an undone one too).
        std::atomic<std::uint64_t> changes{0};
    };
    InMemoryUserDefaults(std::shared_ptr<Storage> storage, std::string suiteName);

    std::shared_ptr<Storage> storage_;
    std::string suiteName_;
};

}  // namespace tessaril
