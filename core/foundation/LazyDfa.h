// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/RegexNfa.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessaril {

// Answers "does the pattern match anywhere in this text" in one pass over the text, with a DFA
// built from a RegexNfa state by state as texts need them, and each transition kept once computed.
// The answer is ICU's for every text whose bytes up to the point of decision are printable ASCII:
// - a match is reported as soon as some match ends, which every unanchored search would find;
// - "no match" comes at the end of the text, or earlier once no match can start anywhere any more
//   (a pattern tied to the start whose attempts have all failed);
// - a byte outside printable ASCII reached before either of those gives no answer (nullopt), and
//   the caller asks ICU, which knows about Unicode and line terminators.
//
// One difference from ICU remains by design: ICU gives up once a search exceeds its work limit or
// its backtracking stack (exponential backtracking, or the endless loop ICU falls into on a few odd
// patterns such as "(?:a|^)*?b" on "aa") and then reports no match, whereas this never gives up. On such text this
// may report a match that ICU, cut short, did not find.
//
// States are capped: at `stateLimit` the whole cache is dropped and building starts afresh from the
// current position, so memory stays bounded and each byte still costs at most one state's
// construction. Not thread-safe: searches change the cache.
class LazyDfa {
public:
    static constexpr std::size_t defaultStateLimit = 256;

    explicit LazyDfa(std::shared_ptr<const RegexNfa> nfa, std::size_t stateLimit = defaultStateLimit);

    [[nodiscard]] std::optional<bool> search(std::string_view text);

    [[nodiscard]] const std::shared_ptr<const RegexNfa>& nfa() const { return nfa_; }
    // States in the cache now, and how many times the cache was dropped for being full.
    [[nodiscard]] std::size_t stateCount() const { return stateKeys_.size(); }
    [[nodiscard]] std::size_t flushCount() const { return flushes_; }

private:
    std::int32_t initialState();
    std::int32_t transition(std::int32_t from, std::uint8_t byteClass);
    std::int32_t settle(bool atTextStart);
    std::int32_t addState(bool acceptsAtEnd);
    void flush();

    std::shared_ptr<const RegexNfa> nfa_;
    std::size_t stateLimit_;
    // Row width of the table: one column per byte class.
    std::size_t stride_;
    std::array<std::uint8_t, 256> byteClasses_;
    // A state is the offset of its row; an entry is the next state's row, or one of the negative
    // values in the .cpp (not yet computed, match, no match possible, undecided).
    std::vector<std::int32_t> table_;
    std::vector<std::uint8_t> acceptsAtEnd_;
    // A state's identity: its "accepts at the end" flag, then its positions (NFA node numbers of
    // byte sets, ascending, 16 bits each). The map finds a state by it; stateKeys_ points back at
    // the map's keys, whose addresses do not change while the map lives.
    std::unordered_map<std::string, std::int32_t> index_;
    std::vector<const std::string*> stateKeys_;
    std::int32_t initial_;
    std::size_t flushes_ = 0;
    // Texts mostly begin alike ("https://"): the first eight bytes of the last text that got that far
    // and the state they lead to, where a text that begins with the same bytes resumes (-1: none).
    std::uint64_t prefix_ = 0;
    std::int32_t prefixState_ = -1;

    // Scratch space of the closure computation, kept to avoid allocating on every new state.
    std::vector<std::uint32_t> visited_;
    std::uint32_t generation_ = 0;
    std::vector<std::int32_t> stack_;
    std::vector<std::int32_t> endAssertions_;
    std::vector<std::uint16_t> positions_;
    std::string key_;
};

}  // namespace tessaril
