// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace tessaril {

// Disconnects its slot when destroyed. Move-only; an empty connection does nothing.
class ScopedConnection {
public:
    ScopedConnection() = default;
    explicit ScopedConnection(std::function<void()> disconnect) : disconnect_(std::move(disconnect)) {}
    ScopedConnection(const ScopedConnection&) = delete;
    ScopedConnection& operator=(const ScopedConnection&) = delete;
    ScopedConnection(ScopedConnection&& other) noexcept : disconnect_(std::exchange(other.disconnect_, {})) {}
    ScopedConnection& operator=(ScopedConnection&& other) noexcept {
        if (this != &other) {
            disconnect();
            disconnect_ = std::exchange(other.disconnect_, {});
        }
        return *this;
    }
    ~ScopedConnection() { disconnect(); }

    void disconnect() {
        if (disconnect_) std::exchange(disconnect_, {})();
    }

private:
    std::function<void()> disconnect_;
};

// A change notification: observable properties are a getter plus one of these, so that views
// redraw on change. Slots run synchronously on the emitting thread, in connection order. A slot may
// disconnect itself or others while the signal is being emitted; the signal may also be destroyed
// before its connections.
template <typename... Args>
class Signal {
public:
    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    [[nodiscard]] ScopedConnection connect(std::function<void(Args...)> slot) {
        if (!state_) state_ = std::make_shared<State>();
        auto entry = std::make_shared<Slot>(Slot{std::move(slot), true});
        state_->slots.push_back(entry);
        std::weak_ptr<State> weakState = state_;
        std::weak_ptr<Slot> weakSlot = entry;
        return ScopedConnection([weakState, weakSlot] {
            auto state = weakState.lock();
            auto slot = weakSlot.lock();
            if (!state || !slot) return;
            slot->active = false;
            std::erase(state->slots, slot);
        });
    }

    void emit(Args... args) const {
        if (!state_) return;
        // Copy first: slots may connect or disconnect while we iterate.
        auto current = state_->slots;
        for (const auto& slot : current) {
            if (slot->active) slot->function(args...);
        }
    }

    [[nodiscard]] std::size_t connectionCount() const { return state_ ? state_->slots.size() : 0; }

private:
    struct Slot {
        std::function<void(Args...)> function;
        bool active;
    };
    struct State {
        std::vector<std::shared_ptr<Slot>> slots;
    };
    // Made by the first connection: most signals are never connected to (each of the thousands of
    // rules listed in the tree has two), and a rule load made a block for every one.
    std::shared_ptr<State> state_;
};

}  // namespace tessaril
