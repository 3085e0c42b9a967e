// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/RuleCategoryType.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>

namespace tessaril {

// A set of rule categories, held as one bit per category so that a clean can collect its matches
// without allocating. Iteration runs in the categories' declaration order.
class RuleCategorySet {
public:
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = RuleCategoryType;
        using difference_type = std::ptrdiff_t;
        using pointer = const RuleCategoryType*;
        using reference = RuleCategoryType;

        Iterator() = default;
        [[nodiscard]] RuleCategoryType operator*() const { return kAllRuleCategoryTypes[index_]; }
        Iterator& operator++() {
            index_ = next(bits_, index_ + 1);
            return *this;
        }
        Iterator operator++(int) {
            Iterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const Iterator&) const = default;

    private:
        friend class RuleCategorySet;
        Iterator(std::uint8_t bits, std::size_t index) : bits_(bits), index_(next(bits, index)) {}
        static std::size_t next(std::uint8_t bits, std::size_t index) {
            while (index < kAllRuleCategoryTypes.size() && (bits & (1U << index)) == 0)
                ++index;
            return index;
        }
        std::uint8_t bits_ = 0;
        std::size_t index_ = kAllRuleCategoryTypes.size();
    };

    RuleCategorySet() = default;
    RuleCategorySet(std::initializer_list<RuleCategoryType> types) {
        for (RuleCategoryType type : types)
            insert(type);
    }

    void insert(RuleCategoryType type) { bits_ |= bit(type); }
    void insert(RuleCategorySet other) { bits_ |= other.bits_; }
    void erase(RuleCategoryType type) { bits_ &= static_cast<std::uint8_t>(~bit(type)); }
    [[nodiscard]] bool contains(RuleCategoryType type) const { return (bits_ & bit(type)) != 0; }
    [[nodiscard]] bool empty() const { return bits_ == 0; }
    [[nodiscard]] std::size_t size() const {
        std::size_t count = 0;
        for (std::uint8_t rest = bits_; rest != 0; rest &= static_cast<std::uint8_t>(rest - 1))
            ++count;
        return count;
    }

    [[nodiscard]] Iterator begin() const { return Iterator(bits_, 0); }
    [[nodiscard]] Iterator end() const { return Iterator(bits_, kAllRuleCategoryTypes.size()); }

    bool operator==(const RuleCategorySet&) const = default;

private:
    static std::uint8_t bit(RuleCategoryType type) {
        return static_cast<std::uint8_t>(1U << static_cast<unsigned>(type));
    }
    std::uint8_t bits_ = 0;
};

}  // namespace tessaril
