// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/LazyDfa.h"

#include <algorithm>
#include <cstring>

namespace tessaril {

namespace {

// Table entries below zero; every other entry is the row offset of the next state.
constexpr std::int32_t kUnknown = -1;    // not computed yet
constexpr std::int32_t kMatch = -2;      // a match ends at this byte
constexpr std::int32_t kDead = -3;       // no match can end here or anywhere later
constexpr std::int32_t kUndecided = -4;  // a byte outside printable ASCII: the answer is ICU's

using Kind = RegexNfa::Kind;

}  // namespace

LazyDfa::LazyDfa(std::shared_ptr<const RegexNfa> nfa, std::size_t stateLimit)
    : nfa_(std::move(nfa)),
      stateLimit_(std::max<std::size_t>(stateLimit, 1)),
      stride_(nfa_->classCount()),
      byteClasses_(nfa_->byteClasses()),
      initial_(kUnknown),
      visited_(nfa_->nodes().size(), 0) {}

std::optional<bool> LazyDfa::search(std::string_view text) {
    if (initial_ == kUnknown) initial_ = initialState();
    std::int32_t state = initial_;
    if (state == kMatch) return true;
    if (state == kDead) return false;
    std::size_t position = 0;
    std::uint64_t prefix = 0;
    if (text.size() >= sizeof prefix) {
        std::memcpy(&prefix, text.data(), sizeof prefix);
        if (prefixState_ >= 0 && prefix == prefix_) {
            state = prefixState_;
            position = sizeof prefix;
        }
    }
    const std::int32_t* table = table_.data();
    for (; position < text.size(); ++position) {
        const std::uint8_t byteClass = byteClasses_[static_cast<unsigned char>(text[position])];
        std::int32_t next = table[static_cast<std::size_t>(state) + byteClass];
        if (next < 0) {
            if (next == kUnknown) {
                next = transition(state, byteClass);
                table = table_.data();
            }
            if (next == kMatch) return true;
            if (next == kDead) return false;
            if (next == kUndecided) return std::nullopt;
        }
        state = next;
        if (position + 1 == sizeof prefix) {
            prefix_ = prefix;
            prefixState_ = state;
        }
    }
    return acceptsAtEnd_[static_cast<std::size_t>(state) / stride_] != 0;
}

std::int32_t LazyDfa::initialState() {
    stack_.clear();
    stack_.push_back(nfa_->start());
    return settle(true);
}

std::int32_t LazyDfa::transition(std::int32_t from, std::uint8_t byteClass) {
    const unsigned char byte = nfa_->representative(byteClass);
    const std::string& key = *stateKeys_[static_cast<std::size_t>(from) / stride_];
    const auto& nodes = nfa_->nodes();
    const auto& sets = nfa_->sets();
    stack_.clear();
    for (std::size_t i = 1; i + 1 < key.size(); i += 2) {
        std::uint16_t position = 0;
        std::memcpy(&position, key.data() + i, sizeof position);
        const auto& node = nodes[position];
        if (RegexNfa::contains(sets[node.set], byte)) stack_.push_back(node.out);
    }
    // The search is unanchored: an attempt may also start after this byte.
    stack_.push_back(nfa_->start());
    const std::size_t flushesBefore = flushes_;
    const std::int32_t target = settle(false);
    // A flush dropped the row of `from`; the target is then the first state of a new cache.
    if (flushes_ == flushesBefore) table_[static_cast<std::size_t>(from) + byteClass] = target;
    return target;
}

// Follows every transition that consumes nothing from the nodes on the stack, and returns the state
// they make up: kMatch when a match ends here, kDead when nothing is left that could lead to one.
std::int32_t LazyDfa::settle(bool atTextStart) {
    if (++generation_ == 0) {
        std::fill(visited_.begin(), visited_.end(), 0);
        generation_ = 1;
    }
    const auto& nodes = nfa_->nodes();
    positions_.clear();
    endAssertions_.clear();
    while (!stack_.empty()) {
        const auto index = static_cast<std::size_t>(stack_.back());
        stack_.pop_back();
        if (visited_[index] == generation_) continue;
        visited_[index] = generation_;
        const auto& node = nodes[index];
        switch (node.kind) {
            case Kind::byteSet:
                positions_.push_back(static_cast<std::uint16_t>(index));
                break;
            case Kind::split:
                stack_.push_back(node.out);
                stack_.push_back(node.alternative);
                break;
            case Kind::textStart:
                if (atTextStart) stack_.push_back(node.out);
                break;
            case Kind::textEnd:
                endAssertions_.push_back(node.out);
                break;
            case Kind::save:
                stack_.push_back(node.out);
                break;
            case Kind::match:
                stack_.clear();
                return kMatch;
        }
    }
    // In printable ASCII text only the end can follow a "$", so what lies beyond one decides only
    // whether a match ends here should the text end here. Nodes seen above need no second visit: their own
    // "$" successors are already on the list.
    bool acceptsAtEnd = false;
    // ICU's "$" also holds before a line break that ends the text, which something past it may then
    // consume: such a state is not dead, so that the byte after it gets read, and found undecided.
    bool consumesPastEnd = false;
    stack_.assign(endAssertions_.begin(), endAssertions_.end());
    while (!stack_.empty() && !acceptsAtEnd) {
        const auto index = static_cast<std::size_t>(stack_.back());
        stack_.pop_back();
        if (visited_[index] == generation_) continue;
        visited_[index] = generation_;
        const auto& node = nodes[index];
        if (node.kind == Kind::match) acceptsAtEnd = true;
        if (node.kind == Kind::byteSet) consumesPastEnd = true;
        if (node.kind == Kind::textEnd || node.kind == Kind::save || (node.kind == Kind::textStart && atTextStart)) {
            stack_.push_back(node.out);
        }
        if (node.kind == Kind::split) {
            stack_.push_back(node.out);
            stack_.push_back(node.alternative);
        }
    }
    stack_.clear();
    if (positions_.empty() && !acceptsAtEnd && !consumesPastEnd) return kDead;

    std::sort(positions_.begin(), positions_.end());
    key_.assign(1, acceptsAtEnd ? '\1' : '\0');
    key_.append(reinterpret_cast<const char*>(positions_.data()), positions_.size() * sizeof(std::uint16_t));
    if (const auto found = index_.find(key_); found != index_.end()) return found->second;
    return addState(acceptsAtEnd);
}

std::int32_t LazyDfa::addState(bool acceptsAtEnd) {
    if (stateKeys_.size() >= stateLimit_) flush();
    const auto offset = static_cast<std::int32_t>(table_.size());
    table_.resize(table_.size() + stride_, kUnknown);
    table_[static_cast<std::size_t>(offset)] = kUndecided;
    acceptsAtEnd_.push_back(acceptsAtEnd ? 1 : 0);
    const auto entry = index_.emplace(key_, offset).first;
    stateKeys_.push_back(&entry->first);
    return offset;
}

void LazyDfa::flush() {
    prefixState_ = kUnknown;
    table_.clear();
    acceptsAtEnd_.clear();
    stateKeys_.clear();
    index_.clear();
    initial_ = kUnknown;
    ++flushes_;
}

}  // namespace tessaril
