// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/InMemoryUserDefaults.h"

#include <utility>

namespace tessaril {

InMemoryUserDefaults::InMemoryUserDefaults() : InMemoryUserDefaults(std::make_shared<Storage>(), std::string()) {}

InMemoryUserDefaults::InMemoryUserDefaults(std::shared_ptr<Storage> storage, std::string suiteName)
    : storage_(std::move(storage)), suiteName_(std::move(suiteName)) {}

std::optional<DefaultsValue> InMemoryUserDefaults::value(std::string_view key) const {
    std::lock_guard lock(storage_->mutex);
    auto domain = storage_->suites.find(suiteName_);
    if (domain == storage_->suites.end()) return std::nullopt;
    auto found = domain->second.find(key);
    if (found == domain->second.end()) return std::nullopt;
    return found->second;
}

bool InMemoryUserDefaults::set(std::string_view key, DefaultsValue value) {
    std::lock_guard lock(storage_->mutex);
    if (!storage_->writable) return false;
    storage_->suites[suiteName_].insert_or_assign(std::string(key), std::move(value));
    ++storage_->changes;
    return true;
}

void InMemoryUserDefaults::remove(std::string_view key) {
    std::lock_guard lock(storage_->mutex);
    if (!storage_->writable) return;
    auto domain = storage_->suites.find(suiteName_);
    if (domain == storage_->suites.end()) return;
    if (auto found = domain->second.find(key); found != domain->second.end()) {
        domain->second.erase(found);
        ++storage_->changes;
    }
}

std::unique_ptr<UserDefaults> InMemoryUserDefaults::suite(std::string_view name) {
    return std::unique_ptr<UserDefaults>(new InMemoryUserDefaults(storage_, std::string(name)));
}

void InMemoryUserDefaults::removeSuite(std::string_view name) {
    std::lock_guard lock(storage_->mutex);
    if (!storage_->writable) return;
    if (auto found = storage_->suites.find(name); found != storage_->suites.end()) {
        storage_->suites.erase(found);
        ++storage_->changes;
    }
}

bool InMemoryUserDefaults::transaction(const std::function<bool(UserDefaults&)>& body) {
    std::lock_guard lock(storage_->mutex);
    if (!storage_->writable) return false;
    // Undoing is putting back a copy of everything as it was; these stores are small. Putting back
    // is a change too, to a reader that looked while the body ran.
    const CountOnExit counted{storage_->changes};
    return restoringTransaction(storage_->suites, *this, body);
}

void InMemoryUserDefaults::setWritable(bool writable) {
    std::lock_guard lock(storage_->mutex);
    storage_->writable = writable;
}

}  // namespace tessaril
