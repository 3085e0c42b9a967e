// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tessaril {

// The automaton of a pattern written in the part of ICU's syntax whose meaning on printable ASCII
// text (bytes 0x20-0x7E) we know exactly: literals, ".", classes with ranges, \d \w \s and their
// negations, escaped punctuation, groups, alternation, greedy and lazy quantifiers, "^" and "$" as
// assertions, and a leading "(?i)". Anything else (look-around, back-references, possessive and
// atomic forms, \b, other inline flags, any byte outside printable ASCII in the pattern, more than
// `maximumPositions` character positions once counted repetitions are written out) makes parse()
// decline, and the pattern stays with ICU alone.
//
// Capturing groups are numbered as ICU numbers them (by their opening parenthesis), each bracketed
// by two save nodes, and every split lists the branch ICU's backtracking tries first as `out`: a
// walk through the automaton in that order meets the matches in ICU's order of preference.
//
// Everything here describes printable ASCII only. A text byte outside that range falls in byte class
// 0, which means "unknown": the lazy DFA stops there and lets ICU answer.
//
// Immutable once built, so one automaton is shared by every copy of a Regex.
class RegexNfa {
public:
    // One bit per ASCII code; only 0x20-0x7E are ever set.
    using ByteSet = std::array<std::uint64_t, 2>;

    enum class Kind : std::uint8_t {
        byteSet,    // consumes one byte of set, goes to out
        split,      // goes to out, or failing that to alternative, without consuming
        textStart,  // goes to out only at offset 0 ("^"; the pattern has no multi-line flag)
        textEnd,    // goes to out only at the end of the text ("$")
        save,       // records the offset in capture slot `set` (2g: group g begins, 2g + 1: it ends)
        match,
    };
    struct Node {
        Kind kind = Kind::match;
        std::uint16_t set = 0;
        std::int32_t out = -1;
        std::int32_t alternative = -1;
    };

    static constexpr std::size_t maximumPositions = 256;
    // The most positions any automaton may have: a DFA state names its positions in 16 bits.
    static constexpr std::size_t largestPositionLimit = 0xFFFF;

    // Null when the pattern lies outside the subset. A pattern accepted here is always one ICU
    // accepts too, with the same meaning on printable ASCII text.
    // A caller that only asks search() of a large pattern may allow more positions (up to
    // largestPositionLimit), at the cost of larger DFA states.
    [[nodiscard]] static std::shared_ptr<const RegexNfa> parse(std::string_view pattern, bool caseInsensitive,
                                                               std::size_t positionLimit = maximumPositions);
    // Whether parse() would give an automaton, at about half its cost: the pattern is read but no
    // automaton is built, so that loading many patterns can leave that to their first use.
    [[nodiscard]] static bool reads(std::string_view pattern, bool caseInsensitive);

    [[nodiscard]] const std::vector<Node>& nodes() const { return nodes_; }
    [[nodiscard]] const std::vector<ByteSet>& sets() const { return sets_; }
    [[nodiscard]] std::int32_t start() const { return start_; }
    [[nodiscard]] std::size_t captureCount() const { return captureCount_; }
    // True when the pattern begins with "^": a match can only start at offset 0.
    [[nodiscard]] bool anchoredAtStart() const {
        return nodes_[static_cast<std::size_t>(start_)].kind == Kind::textStart;
    }
    // Whether a leftmost-first walk finds exactly ICU's capture ranges. ICU stops a repetition whose
    // iteration matched the empty string, which an automaton cannot express, so a pattern that
    // repeats anything able to match empty answers search() only.
    [[nodiscard]] bool capturesExact() const { return capturesExact_; }

    // Bytes that no set of the pattern tells apart share a class: the DFA keeps one transition per
    // class. Class 0 holds every byte outside printable ASCII; classes 1 to classCount() - 1 the rest.
    [[nodiscard]] const std::array<std::uint8_t, 256>& byteClasses() const { return byteClasses_; }
    [[nodiscard]] std::size_t classCount() const { return representatives_.size(); }
    // A byte of the class (0 for class 0), to test set membership with.
    [[nodiscard]] unsigned char representative(std::size_t byteClass) const { return representatives_[byteClass]; }

    [[nodiscard]] static bool contains(const ByteSet& set, unsigned char byte) {
        return byte < 128 && ((set[byte >> 6] >> (byte & 63)) & 1) != 0;
    }

private:
    friend class RegexNfaBuilder;
    RegexNfa() = default;
    void assignByteClasses();

    std::vector<Node> nodes_;
    std::vector<ByteSet> sets_;
    std::int32_t start_ = 0;
    std::size_t captureCount_ = 0;
    bool capturesExact_ = true;
    std::array<std::uint8_t, 256> byteClasses_{};
    std::vector<unsigned char> representatives_;
};

}  // namespace tessaril
