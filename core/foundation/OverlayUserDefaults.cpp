// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/OverlayUserDefaults.h"

#include <utility>

namespace tessaril {

OverlayUserDefaults::OverlayUserDefaults(UserDefaults& base, BaseReads baseReads)
    : base_(base), storage_(std::make_shared<Storage>()), baseReads_(baseReads) {}

OverlayUserDefaults::OverlayUserDefaults(std::unique_ptr<UserDefaults> ownedBase, std::shared_ptr<Storage> storage,
                                         std::string suiteName, BaseReads baseReads)
    : ownedBase_(std::move(ownedBase)),
      base_(*ownedBase_),
      storage_(std::move(storage)),
      suiteName_(std::move(suiteName)),
      baseReads_(baseReads) {}

std::optional<DefaultsValue> OverlayUserDefaults::value(std::string_view key) const {
    {
        std::lock_guard lock(storage_->mutex);
        if (auto layer = storage_->suites.find(suiteName_); layer != storage_->suites.end()) {
            if (auto found = layer->second.entries.find(key); found != layer->second.entries.end()) {
                return found->second;
            }
            if (layer->second.hidesBase) return std::nullopt;
            if (auto known = layer->second.baseValues.find(key); known != layer->second.baseValues.end()) {
                return known->second;
            }
        }
    }
    // Outside the lock (unless a transaction holds it): the store underneath has its own, and may
    // be slow.
    auto stored = base_.value(key);
    if (baseReads_ == BaseReads::snapshot) {
        std::lock_guard lock(storage_->mutex);
        Layer& layer = storage_->suites[suiteName_];
        // A set, a removal or a suite removal that came in meanwhile wins over the read; when two
        // threads read the same key at once, the first answer stays.
        if (auto found = layer.entries.find(key); found != layer.entries.end()) return found->second;
        if (layer.hidesBase) return std::nullopt;
        return layer.baseValues.try_emplace(std::string(key), std::move(stored)).first->second;
    }
    return stored;
}

bool OverlayUserDefaults::set(std::string_view key, DefaultsValue value) {
    std::lock_guard lock(storage_->mutex);
    storage_->suites[suiteName_].entries.insert_or_assign(std::string(key), std::move(value));
    ++storage_->changes;
    return true;
}

void OverlayUserDefaults::remove(std::string_view key) {
    std::lock_guard lock(storage_->mutex);
    storage_->suites[suiteName_].entries.insert_or_assign(std::string(key), std::nullopt);
    ++storage_->changes;
}

std::unique_ptr<UserDefaults> OverlayUserDefaults::suite(std::string_view name) {
    return std::unique_ptr<UserDefaults>(
        new OverlayUserDefaults(base_.suite(name), storage_, std::string(name), baseReads_));
}

void OverlayUserDefaults::removeSuite(std::string_view name) {
    std::lock_guard lock(storage_->mutex);
    Layer& layer = storage_->suites[std::string(name)];
    layer.entries.clear();
    layer.baseValues.clear();
    layer.hidesBase = true;
    ++storage_->changes;
}

bool OverlayUserDefaults::transaction(const std::function<bool(UserDefaults&)>& body) {
    std::lock_guard lock(storage_->mutex);
    const CountOnExit counted{storage_->changes};
    return restoringTransaction(storage_->suites, *this, body);
}

std::optional<std::uint64_t> OverlayUserDefaults::changeCount() const {
    // Read before the values, like every count: a change in between shows at the next look.
    const std::uint64_t own = storage_->changes.load();
    if (baseReads_ == BaseReads::snapshot) return own;
    // Both only grow, so their sum changes whenever either does.
    const auto base = base_.changeCount();
    if (!base) return std::nullopt;
    return own + *base;
}

}  // namespace tessaril
