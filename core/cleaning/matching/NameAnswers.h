// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// Answers kept by name, up to a fixed number, for a question asked about every parameter of every
// link. Open addressing over a power-of-two array of entry numbers, the entries in arrival order: a
// lookup reads a slot or two and one entry, where a node-based map divides by its bucket count and
// follows two pointers. When full, the table is emptied and starts again; the names that matter
// come back at once.
template <typename Answer>
class NameAnswers {
public:
    struct Entry {
        std::size_t hash = 0;
        std::string name;
        Answer answer{};
    };

    explicit NameAnswers(std::size_t capacity)
        : capacity_(std::max<std::size_t>(capacity, 1)),
          slots_(std::bit_ceil(2 * capacity_), 0),
          mask_(slots_.size() - 1) {
        // Entries stay where they are until the table is emptied.
        entries_.reserve(capacity_);
    }

    // The entry kept for `name`, whose hash is `hash`, or null.
    [[nodiscard]] Entry* find(std::string_view name, std::size_t hash) {
        for (std::size_t slot = hash & mask_; slots_[slot] != 0; slot = (slot + 1) & mask_) {
            Entry& entry = entries_[slots_[slot] - 1];
            if (entry.hash == hash && entry.name == name) return &entry;
        }
        return nullptr;
    }

    // A new entry with an empty answer, for a name not kept yet. Adding to a full table empties it
    // first, so entries found before are gone.
    [[nodiscard]] Entry& add(std::string_view name, std::size_t hash) {
        if (entries_.size() == capacity_) clear();
        std::size_t slot = hash & mask_;
        while (slots_[slot] != 0)
            slot = (slot + 1) & mask_;
        entries_.push_back(Entry{hash, std::string(name), Answer{}});
        slots_[slot] = static_cast<std::uint32_t>(entries_.size());
        return entries_.back();
    }

    void clear() {
        entries_.clear();
        std::fill(slots_.begin(), slots_.end(), 0);
    }
    [[nodiscard]] std::size_t size() const { return entries_.size(); }

private:
    std::size_t capacity_;
    std::vector<Entry> entries_;
    // Entry number + 1 per slot, 0 for an empty slot; at least half the slots stay empty.
    std::vector<std::uint32_t> slots_;
    std::size_t mask_;
};

}  // namespace tessaril
