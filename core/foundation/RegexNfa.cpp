// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/RegexNfa.h"

#include "core/foundation/PatternSyntax.h"

#include <algorithm>
#include <bit>
#include <optional>

namespace tessaril {

namespace {

using ByteSet = RegexNfa::ByteSet;
using Node = RegexNfa::Node;
using Kind = RegexNfa::Kind;
using SyntaxKind = PatternSyntax::Kind;
using SyntaxForm = PatternSyntax::Form;

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7E;
// Deeper nesting is declined rather than risk the stack; no rule comes near it.
constexpr std::size_t kMaximumDepth = 64;
// Counted repetitions are written out copy by copy, so their bounds are kept small; the position
// limit catches most large ones first anyway.
constexpr std::uint32_t kMaximumCount = 1000;
// Splits and assertions besides the positions; DFA states hold node numbers as 16 bits.
constexpr std::size_t kMaximumNodes = 4096;
// Capture slots are numbered in 16 bits; no rule comes near this either.
constexpr std::size_t kMaximumGroups = 1000;

void add(ByteSet& set, unsigned char byte) {
    set[byte >> 6] |= std::uint64_t{1} << (byte & 63);
}

void addRange(ByteSet& set, unsigned char first, unsigned char last) {
    for (unsigned c = first; c <= last; ++c)
        add(set, static_cast<unsigned char>(c));
}

ByteSet printable() {
    ByteSet set{};
    addRange(set, kFirstPrintable, kLastPrintable);
    return set;
}

ByteSet complement(const ByteSet& set) {
    const ByteSet all = printable();
    return {all[0] & ~set[0], all[1] & ~set[1]};
}

void unite(ByteSet& set, const ByteSet& other) {
    set[0] |= other[0];
    set[1] |= other[1];
}

// ICU closes a case-insensitive class over case before it applies "^", so "[^a-z]" excludes
// capitals too. Among printable ASCII the closure only pairs each letter with its other case: the
// non-ASCII characters that fold to ASCII letters (long s, Kelvin sign) are letters themselves, so
// no shorthand brings them in without their ASCII partners.
// Both cases sit in the second word, capitals at bits 1 to 26 and small letters 32 bits above
// them, so the closure is a few shifts (every pattern's every literal goes through here).
void closeOverCase(ByteSet& set) {
    constexpr std::uint64_t kLetters = (std::uint64_t{1} << 26) - 1;
    constexpr unsigned kCapitalA = 'A' - 64;
    constexpr unsigned kSmallA = 'a' - 64;
    const std::uint64_t letters = ((set[1] >> kCapitalA) | (set[1] >> kSmallA)) & kLetters;
    set[1] |= (letters << kCapitalA) | (letters << kSmallA);
}

// \d, \w, \s and their capitals, as ICU reads them (Unicode properties) restricted to printable
// ASCII; there \s is the space alone.
std::optional<ByteSet> shorthand(std::uint32_t letter) {
    ByteSet set{};
    switch (letter) {
        case 'd':
        case 'D':
            addRange(set, '0', '9');
            break;
        case 'w':
        case 'W':
            addRange(set, '0', '9');
            addRange(set, 'A', 'Z');
            addRange(set, 'a', 'z');
            add(set, '_');
            break;
        case 's':
        case 'S':
            add(set, ' ');
            break;
        default:
            return std::nullopt;
    }
    return letter >= 'a' ? set : complement(set);
}

// What a run of the automaton's parts adds up to: its character positions once counted repetitions
// are written out (saturated just above the limit), and whether it can match without consuming.
struct Shape {
    std::size_t positions = 0;
    bool nullable = true;
};

std::size_t saturatedProduct(std::size_t positions, std::uint32_t copies, std::size_t limit) {
    if (positions == 0 || copies == 0) return 0;
    return positions > (limit + 1) / copies ? limit + 1 : positions * copies;
}

// Decides whether a pattern's tree lies in the subset, and gives each node that consumes a byte its
// set, numbered in the order the pattern writes them.
class SubsetReader {
public:
    SubsetReader(const PatternSyntax& syntax, bool caseInsensitive, std::size_t positionLimit)
        : syntax_(syntax),
          caseInsensitive_(caseInsensitive || syntax.caseInsensitive()),
          limit_(positionLimit),
          setOf_(syntax.size(), 0) {}

    bool read() {
        if (syntax_.holds(SyntaxKind::opaque) || syntax_.holds(SyntaxKind::lookaround) ||
            syntax_.holds(SyntaxKind::backReference) || syntax_.depth() > kMaximumDepth ||
            syntax_.groupCount() > kMaximumGroups) {
            return false;
        }
        Shape shape;
        return alternatives(PatternSyntax::root, shape) && shape.positions <= limit_;
    }

    std::vector<ByteSet>& sets() { return sets_; }
    const std::vector<std::uint16_t>& setOf() const { return setOf_; }
    bool repeatsNullable() const { return repeatsNullable_; }

private:
    bool alternatives(std::int32_t holder, Shape& shape) {
        const std::int32_t first = syntax_.node(holder).child;
        if (syntax_.node(first).next < 0) return branch(first, shape);
        shape = Shape{0, false};
        for (auto b = first; b >= 0; b = syntax_.node(b).next) {
            Shape part;
            if (!branch(b, part)) return false;
            shape.nullable = shape.nullable || part.nullable;
            shape.positions += part.positions;
        }
        shape.positions = std::min(shape.positions, limit_ + 1);
        return true;
    }

    bool branch(std::int32_t b, Shape& shape) {
        shape = Shape{};
        for (auto i = syntax_.node(b).child; i >= 0; i = syntax_.node(i).next) {
            Shape part;
            if (!item(i, part)) return false;
            shape.positions = std::min(shape.positions + part.positions, limit_ + 1);
            shape.nullable = shape.nullable && part.nullable;
        }
        return true;
    }

    bool item(std::int32_t i, Shape& shape) {
        const auto& node = syntax_.node(i);
        if (!atom(i, shape)) return false;
        if (node.quantifier == PatternSyntax::Quantifier::none) return true;
        // Possessive forms change what matches, and a quantified assertion is legal but pointless:
        // both are left to ICU rather than reasoned about. A lazy quantifier finds a match exactly
        // when the greedy one does.
        if (node.greed == PatternSyntax::Greed::possessive || node.min > kMaximumCount ||
            (node.max != PatternSyntax::unbounded && node.max > kMaximumCount) || isAnchor(i)) {
            return false;
        }
        repeatsNullable_ = repeatsNullable_ || shape.nullable;
        shape.nullable = node.min == 0 || shape.nullable;
        shape.positions = saturatedProduct(
            shape.positions, node.max == PatternSyntax::unbounded ? std::max(node.min, 1U) : node.max, limit_);
        return true;
    }

    // "^" or "$", also inside non-capturing groups that hold nothing else.
    bool isAnchor(std::int32_t i) const {
        const auto& node = syntax_.node(i);
        if (node.kind == SyntaxKind::assertion) return true;
        if (node.kind != SyntaxKind::group || node.form != SyntaxForm::nonCapturing) return false;
        const auto& branch = syntax_.node(node.child);
        if (branch.next >= 0 || branch.child < 0) return false;
        const auto& only = syntax_.node(branch.child);
        return only.next < 0 && only.quantifier == PatternSyntax::Quantifier::none && isAnchor(branch.child);
    }

    bool atom(std::int32_t i, Shape& shape) {
        const auto& node = syntax_.node(i);
        ByteSet set{};
        switch (node.kind) {
            case SyntaxKind::literal: {
                // Only line terminators are special among the characters written plainly, and none
                // is printable; "]" is left to ICU.
                const bool known =
                    node.form == SyntaxForm::plain
                        ? node.value >= kFirstPrintable && node.value <= kLastPrintable && node.value != ']'
                        : node.form == SyntaxForm::escaped && PatternSyntax::isPunctuation(node.value);
                if (!known) return false;
                add(set, static_cast<unsigned char>(node.value));
                if (caseInsensitive_) closeOverCase(set);
                break;
            }
            case SyntaxKind::any:
                // Only line terminators are outside ".", and none is printable.
                set = printable();
                break;
            case SyntaxKind::set:
                if (node.form != SyntaxForm::modelled) return false;
                set = members(node);
                break;
            case SyntaxKind::shorthand: {
                const auto bytes = shorthand(node.value);
                if (!bytes) return false;
                set = *bytes;
                break;
            }
            case SyntaxKind::assertion:
                // Nullable, like the empty branch: both match without consuming.
                shape = Shape{};
                return node.value == '^' || node.value == '$';
            case SyntaxKind::group:
                return (node.form == SyntaxForm::capturing || node.form == SyntaxForm::nonCapturing) &&
                       alternatives(i, shape);
            default:
                return false;
        }
        const auto found = std::find(sets_.begin(), sets_.end(), set);
        setOf_[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(found - sets_.begin());
        if (found == sets_.end()) sets_.push_back(set);
        shape = Shape{1, false};
        return true;
    }

    // The bytes of a set read member by member (all printable ASCII).
    ByteSet members(const PatternSyntax::Node& node) const {
        ByteSet set{};
        for (auto m = node.child; m >= 0; m = syntax_.node(m).next) {
            const auto& member = syntax_.node(m);
            if (member.kind == SyntaxKind::shorthand) {
                unite(set, *shorthand(member.value));
            } else {
                addRange(set, static_cast<unsigned char>(member.value),
                         static_cast<unsigned char>(member.kind == SyntaxKind::range ? member.last : member.value));
            }
        }
        if (caseInsensitive_) closeOverCase(set);
        return node.negated ? complement(set) : set;
    }

    const PatternSyntax& syntax_;
    bool caseInsensitive_;
    std::size_t limit_;
    std::vector<ByteSet> sets_;
    std::vector<std::uint16_t> setOf_;
    bool repeatsNullable_ = false;
};

// Writes the tree out as a Thompson automaton, back to front: each part is built knowing the node
// that follows it, so no list of dangling exits is needed.
class Builder {
public:
    Builder(const PatternSyntax& syntax, const std::vector<std::uint16_t>& setOf) : syntax_(syntax), setOf_(setOf) {}

    // The branches of a group: the last is built first, and each earlier one gets a split that
    // tries it before the ones after it.
    std::int32_t alternatives(std::int32_t holder, std::int32_t next) {
        const std::size_t mark = pushChildren(holder);
        std::int32_t entry = branch(scratch_.back(), next);
        for (std::size_t k = scratch_.size() - 1; k-- > mark;)
            entry = add(Node{Kind::split, 0, branch(scratch_[k], next), entry});
        scratch_.resize(mark);
        return entry;
    }

    bool failed() const { return failed_; }
    std::vector<Node>& nodes() { return nodes_; }

    std::int32_t add(Node node) {
        if (nodes_.size() >= kMaximumNodes) {
            failed_ = true;
            return 0;
        }
        nodes_.push_back(node);
        return static_cast<std::int32_t>(nodes_.size() - 1);
    }

private:
    // Puts a node's children on the scratch stack, to be walked from the last; returns where they begin.
    std::size_t pushChildren(std::int32_t parent) {
        const std::size_t mark = scratch_.size();
        for (auto c = syntax_.node(parent).child; c >= 0; c = syntax_.node(c).next)
            scratch_.push_back(c);
        return mark;
    }

    std::int32_t branch(std::int32_t b, std::int32_t next) {
        const std::size_t mark = pushChildren(b);
        for (std::size_t k = scratch_.size(); k-- > mark;)
            next = syntax_.node(scratch_[k]).quantifier == PatternSyntax::Quantifier::none ? atom(scratch_[k], next)
                                                                                           : repeat(scratch_[k], next);
        scratch_.resize(mark);
        return next;
    }

    std::int32_t atom(std::int32_t i, std::int32_t next) {
        const auto& node = syntax_.node(i);
        switch (node.kind) {
            case SyntaxKind::assertion:
                return add(Node{node.value == '^' ? Kind::textStart : Kind::textEnd, 0, next, -1});
            case SyntaxKind::group: {
                if (node.form != SyntaxForm::capturing) return alternatives(i, next);
                const std::int32_t end =
                    add(Node{Kind::save, static_cast<std::uint16_t>(2 * node.value + 1), next, -1});
                return add(Node{Kind::save, static_cast<std::uint16_t>(2 * node.value), alternatives(i, end), -1});
            }
            default:
                return add(Node{Kind::byteSet, setOf_[static_cast<std::size_t>(i)], next, -1});
        }
    }

    std::int32_t repeat(std::int32_t i, std::int32_t next) {
        const auto& node = syntax_.node(i);
        const bool lazy = node.greed == PatternSyntax::Greed::lazy;
        std::int32_t entry = next;
        std::uint32_t copies = node.min;
        if (node.max == PatternSyntax::unbounded) {
            // x* is a loop; x{n,} is n - 1 copies then x+, whose loop re-enters the last copy.
            const std::int32_t loop = add(Node{});
            if (failed_) return next;
            const std::int32_t inside = atom(i, loop);
            nodes_[static_cast<std::size_t>(loop)] = choice(lazy, inside, next);
            entry = node.min == 0 ? loop : inside;
            if (copies > 0) --copies;
        } else {
            // x{n,m}: n copies, then m - n optional ones, each of which may leave for `next`.
            for (std::uint32_t k = node.min; k < node.max && !failed_; ++k)
                entry = add(choice(lazy, atom(i, entry), next));
        }
        for (std::uint32_t k = 0; k < copies && !failed_; ++k)
            entry = atom(i, entry);
        return entry;
    }

    // A greedy repetition tries one more iteration first, a lazy one leaving first.
    static Node choice(bool lazy, std::int32_t again, std::int32_t leave) {
        return lazy ? Node{Kind::split, 0, leave, again} : Node{Kind::split, 0, again, leave};
    }

    const PatternSyntax& syntax_;
    const std::vector<std::uint16_t>& setOf_;
    std::vector<Node> nodes_;
    std::vector<std::int32_t> scratch_;
    bool failed_ = false;
};

}  // namespace

bool RegexNfa::reads(std::string_view pattern, bool caseInsensitive) {
    const auto syntax = PatternSyntax::parse(pattern);
    return syntax && SubsetReader(*syntax, caseInsensitive, maximumPositions).read();
}

std::shared_ptr<const RegexNfa> RegexNfa::parse(std::string_view pattern, bool caseInsensitive,
                                                std::size_t positionLimit) {
    const auto syntax = PatternSyntax::parse(pattern);
    if (!syntax) return nullptr;
    SubsetReader reader(*syntax, caseInsensitive, std::min(positionLimit, largestPositionLimit));
    if (!reader.read()) return nullptr;
    Builder builder(*syntax, reader.setOf());
    const std::int32_t match = builder.add(Node{Kind::match, 0, -1, -1});
    const std::int32_t start = builder.alternatives(PatternSyntax::root, match);
    if (builder.failed()) return nullptr;
    std::shared_ptr<RegexNfa> nfa(new RegexNfa());
    nfa->nodes_ = std::move(builder.nodes());
    nfa->sets_ = std::move(reader.sets());
    nfa->start_ = start;
    nfa->captureCount_ = syntax->groupCount();
    nfa->capturesExact_ = !reader.repeatsNullable();
    nfa->assignByteClasses();
    return nfa;
}

void RegexNfa::assignByteClasses() {
    // Bytes that no set tells apart share a class. Each set in turn splits every group of bytes it
    // cuts: its members move to a new group, one per group they came from.
    std::array<std::uint32_t, 256> group{};
    std::vector<std::uint32_t> movedTo(1, 0);
    std::vector<std::uint32_t> touched;
    for (const ByteSet& set : sets_) {
        // Most sets hold a letter in its two cases: only their members are visited.
        for (std::size_t word = 0; word < set.size(); ++word) {
            for (std::uint64_t bits = set[word]; bits != 0; bits &= bits - 1) {
                const std::size_t c = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
                std::uint32_t& to = movedTo[group[c]];
                if (to == 0) {
                    to = static_cast<std::uint32_t>(movedTo.size());
                    touched.push_back(group[c]);
                    movedTo.push_back(0);
                }
                group[c] = movedTo[group[c]];
            }
        }
        for (const std::uint32_t from : touched)
            movedTo[from] = 0;
        touched.clear();
    }
    // Classes are numbered in the order of their first byte, which is their representative.
    std::vector<std::uint8_t> number(movedTo.size(), 0);
    representatives_.assign(1, 0);
    byteClasses_.fill(0);
    for (unsigned c = kFirstPrintable; c <= kLastPrintable; ++c) {
        std::uint8_t& n = number[group[c]];
        if (n == 0) {
            n = static_cast<std::uint8_t>(representatives_.size());
            representatives_.push_back(static_cast<unsigned char>(c));
        }
        byteClasses_[c] = n;
    }
}

}  // namespace tessaril
