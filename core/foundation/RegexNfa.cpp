// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/RegexNfa.h"

#include <algorithm>
#include <bit>
#include <optional>

namespace tessaril {

namespace {

using ByteSet = RegexNfa::ByteSet;
using Node = RegexNfa::Node;
using Kind = RegexNfa::Kind;

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7E;
// Deeper nesting is declined rather than risk the stack; no rule comes near it.
constexpr int kMaximumDepth = 64;
// Counted repetitions are written out copy by copy, so their bounds are kept small; the position
// limit catches most large ones first anyway.
constexpr std::uint32_t kMaximumCount = 1000;
constexpr std::uint32_t kUnbounded = UINT32_MAX;
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

bool isLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// ICU takes a backslash before any ASCII character that is neither a letter nor a digit as that
// character itself; letters and digits start escapes with meanings of their own.
bool isQuotable(unsigned char c) {
    return c > kFirstPrintable && c <= kLastPrintable && !isLetter(c) && !isDigit(c);
}

// ICU closes a case-insensitive class over case before it applies "^", so "[^a-z]" excludes
// capitals too. Among printable ASCII the closure only pairs each letter with its other case: the
// non-ASCII characters that fold to ASCII letters (long s, Kelvin sign) are letters themselves, so
// no shorthand brings them in without their ASCII partners.
void closeOverCase(ByteSet& set) {
    for (unsigned char c = 'a'; c <= 'z'; ++c) {
        const auto upper = static_cast<unsigned char>(c - 'a' + 'A');
        if (RegexNfa::contains(set, c) || RegexNfa::contains(set, upper)) {
            add(set, c);
            add(set, upper);
        }
    }
}

// \d, \w, \s and their capitals, as ICU reads them (Unicode properties) restricted to printable
// ASCII; there \s is the space alone.
std::optional<ByteSet> shorthand(unsigned char letter) {
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

// The expression as a tree, before it is written out as nodes.
struct Term {
    enum class Type : std::uint8_t { empty, set, textStart, textEnd, sequence, choice, repeat, group };
    Type type = Type::empty;
    // The set of a set term, the number of a group.
    std::uint16_t set = 0;
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    bool lazy = false;
    // Whether it can match without consuming anything.
    bool nullable = true;
    std::vector<std::size_t> parts;
    // Character positions once written out, saturated just above the limit.
    std::size_t positions = 0;
};

std::size_t saturatedProduct(std::size_t positions, std::uint32_t copies) {
    if (positions == 0 || copies == 0) return 0;
    return positions > (RegexNfa::maximumPositions + 1) / copies ? RegexNfa::maximumPositions + 1 : positions * copies;
}

// Recursive descent over the subset; every step either understands what it reads or gives up.
class Parser {
public:
    Parser(std::string_view pattern, bool caseInsensitive) : pattern_(pattern), caseInsensitive_(caseInsensitive) {}

    // The root term, or nothing when the pattern lies outside the subset.
    std::optional<std::size_t> parse() {
        if (pattern_.substr(0, 4) == "(?i)") {
            caseInsensitive_ = true;
            at_ = 4;
        }
        const auto root = alternation(0);
        if (!root || at_ != pattern_.size() || terms_[*root].positions > RegexNfa::maximumPositions) {
            return std::nullopt;
        }
        return root;
    }

    std::vector<Term>& terms() { return terms_; }
    std::vector<ByteSet>& sets() { return sets_; }
    std::size_t groupCount() const { return groups_; }
    bool repeatsNullable() const { return repeatsNullable_; }

private:
    bool atEnd() const { return at_ >= pattern_.size(); }
    unsigned char peek(std::size_t ahead = 0) const {
        return at_ + ahead < pattern_.size() ? static_cast<unsigned char>(pattern_[at_ + ahead]) : 0;
    }
    bool accept(char c) {
        if (atEnd() || pattern_[at_] != c) return false;
        ++at_;
        return true;
    }

    std::size_t addTerm(Term term) {
        terms_.push_back(std::move(term));
        return terms_.size() - 1;
    }

    std::size_t setTerm(ByteSet set) {
        const auto found = std::find(sets_.begin(), sets_.end(), set);
        const auto index = static_cast<std::uint16_t>(found - sets_.begin());
        if (found == sets_.end()) sets_.push_back(set);
        Term term;
        term.type = Term::Type::set;
        term.set = index;
        term.positions = 1;
        term.nullable = false;
        return addTerm(std::move(term));
    }

    std::optional<std::size_t> alternation(int depth) {
        if (depth > kMaximumDepth) return std::nullopt;
        Term choice;
        choice.type = Term::Type::choice;
        choice.nullable = false;
        do {
            const auto part = sequence(depth);
            if (!part) return std::nullopt;
            choice.nullable = choice.nullable || terms_[*part].nullable;
            choice.positions += terms_[*part].positions;
            choice.parts.push_back(*part);
        } while (accept('|'));
        if (choice.parts.size() == 1) return choice.parts.front();
        choice.positions = std::min(choice.positions, RegexNfa::maximumPositions + 1);
        return addTerm(std::move(choice));
    }

    std::optional<std::size_t> sequence(int depth) {
        Term sequence;
        sequence.type = Term::Type::sequence;
        while (!atEnd() && peek() != '|' && peek() != ')') {
            const auto part = quantified(depth);
            if (!part) return std::nullopt;
            sequence.positions = std::min(sequence.positions + terms_[*part].positions, RegexNfa::maximumPositions + 1);
            sequence.nullable = sequence.nullable && terms_[*part].nullable;
            sequence.parts.push_back(*part);
        }
        if (sequence.parts.size() == 1) return sequence.parts.front();
        if (sequence.parts.empty()) return addTerm(Term{});
        return addTerm(std::move(sequence));
    }

    std::optional<std::size_t> quantified(int depth) {
        const auto atom = this->atom(depth);
        if (!atom) return std::nullopt;
        std::uint32_t min = 0;
        std::uint32_t max = 0;
        if (accept('*')) {
            max = kUnbounded;
        } else if (accept('+')) {
            min = 1;
            max = kUnbounded;
        } else if (accept('?')) {
            max = 1;
        } else if (peek() == '{') {
            if (!interval(min, max)) return std::nullopt;
        } else {
            return atom;
        }
        // A quantified assertion is legal but pointless; it is left to ICU rather than reasoned about.
        const auto type = terms_[*atom].type;
        if (type == Term::Type::textStart || type == Term::Type::textEnd) return std::nullopt;
        // A lazy quantifier finds a match exactly when the greedy one does. Possessive forms ("*+")
        // and stacked quantifiers change or lose that, and are left to ICU.
        const bool lazy = accept('?');
        if (peek() == '*' || peek() == '+' || peek() == '?' || peek() == '{') return std::nullopt;
        repeatsNullable_ = repeatsNullable_ || terms_[*atom].nullable;
        Term repeat;
        repeat.type = Term::Type::repeat;
        repeat.min = min;
        repeat.max = max;
        repeat.lazy = lazy;
        repeat.nullable = min == 0 || terms_[*atom].nullable;
        repeat.parts.push_back(*atom);
        repeat.positions = saturatedProduct(terms_[*atom].positions, max == kUnbounded ? std::max(min, 1U) : max);
        return addTerm(std::move(repeat));
    }

    // "{n}", "{n,}" or "{n,m}" with n <= m; ICU refuses every other use of "{".
    bool interval(std::uint32_t& min, std::uint32_t& max) {
        ++at_;
        if (!number(min)) return false;
        max = min;
        if (accept(',')) {
            max = kUnbounded;
            if (isDigit(peek()) && (!number(max) || max < min)) return false;
        }
        return accept('}');
    }

    bool number(std::uint32_t& value) {
        if (!isDigit(peek())) return false;
        value = 0;
        while (isDigit(peek())) {
            value = value * 10 + (peek() - '0');
            if (value > kMaximumCount) return false;
            ++at_;
        }
        return true;
    }

    std::optional<std::size_t> atom(int depth) {
        const unsigned char c = peek();
        ++at_;
        switch (c) {
            case '(': {
                // Every "(?" form but "(?:" (flags, look-around, atomic groups, named groups) is left
                // to ICU.
                const bool capturing = !accept('?');
                if (!capturing && !accept(':')) return std::nullopt;
                // Numbered when opened, so an outer group comes before the groups it holds.
                const auto number = capturing ? ++groups_ : 0;
                if (groups_ > kMaximumGroups) return std::nullopt;
                const auto inner = alternation(depth + 1);
                if (!inner || !accept(')')) return std::nullopt;
                if (!capturing) return inner;
                Term group;
                group.type = Term::Type::group;
                group.set = static_cast<std::uint16_t>(number);
                group.nullable = terms_[*inner].nullable;
                group.positions = terms_[*inner].positions;
                group.parts.push_back(*inner);
                return addTerm(std::move(group));
            }
            case '[':
                return characterClass();
            case '.':
                // Only line terminators are outside ".", and none is printable.
                return setTerm(printable());
            case '^':
            case '$': {
                // Nullable, like the empty term: both match without consuming.
                Term assertion;
                assertion.type = c == '^' ? Term::Type::textStart : Term::Type::textEnd;
                return addTerm(std::move(assertion));
            }
            case '\\': {
                const unsigned char escaped = peek();
                ++at_;
                if (const auto set = shorthand(escaped)) return setTerm(*set);
                if (!isQuotable(escaped)) return std::nullopt;
                return setTerm(literal(escaped));
            }
            case '*':
            case '+':
            case '?':
            case '{':
            case '}':
            case ']':
            case ')':
                return std::nullopt;
            default:
                if (c < kFirstPrintable || c > kLastPrintable) return std::nullopt;
                return setTerm(literal(c));
        }
    }

    ByteSet literal(unsigned char c) const {
        ByteSet set{};
        add(set, c);
        if (caseInsensitive_) closeOverCase(set);
        return set;
    }

    // One character of a class: a literal or an escaped punctuation mark (set to the character), or
    // a shorthand (set to its bytes, character left empty).
    bool classItem(std::optional<unsigned char>& character, ByteSet& set) {
        const unsigned char c = peek();
        ++at_;
        if (c != '\\') {
            if (c < kFirstPrintable || c > kLastPrintable) return false;
            character = c;
            return true;
        }
        const unsigned char escaped = peek();
        ++at_;
        if (const auto bytes = shorthand(escaped)) {
            set = *bytes;
            return true;
        }
        if (!isQuotable(escaped)) return false;
        character = escaped;
        return true;
    }

    // "[...]" and "[^...]" with literals, escapes, shorthands and ranges. Nested sets, set
    // operations ("&&", "--"), POSIX names, a "]" first and ICU's odd readings of "&" are left to ICU.
    std::optional<std::size_t> characterClass() {
        const bool negated = accept('^');
        if (peek() == ']') return std::nullopt;
        ByteSet set{};
        while (!accept(']')) {
            // ICU reads "&&" as intersection, and "x&-y" as the range x-y beside a lone "&".
            if (atEnd() || peek() == '[' || (peek() == '&' && (peek(1) == '&' || peek(1) == '-')) ||
                (peek() == '-' && peek(1) == '-')) {
                return std::nullopt;
            }
            if (peek() == '-') {
                // A hyphen that cannot end a range is itself: first in the class, or after a
                // range or a shorthand ("[a-z0-9-.]"). After a single character it starts a range.
                ++at_;
                add(set, '-');
                continue;
            }
            std::optional<unsigned char> low;
            ByteSet bytes{};
            if (!classItem(low, bytes)) return std::nullopt;
            if (!low) {
                unite(set, bytes);
                continue;
            }
            if (peek() != '-' || peek(1) == ']') {
                add(set, *low);
                continue;
            }
            ++at_;
            std::optional<unsigned char> high;
            if (peek() == '[' || peek() == '-' || !classItem(high, bytes) || !high || *high < *low) return std::nullopt;
            addRange(set, *low, *high);
        }
        if (caseInsensitive_) closeOverCase(set);
        return setTerm(negated ? complement(set) : set);
    }

    std::string_view pattern_;
    bool caseInsensitive_;
    std::size_t at_ = 0;
    std::vector<Term> terms_;
    std::vector<ByteSet> sets_;
    std::size_t groups_ = 0;
    bool repeatsNullable_ = false;
};

// Writes the tree out as a Thompson automaton, back to front: each term is built knowing the node
// that follows it, so no list of dangling exits is needed.
class Builder {
public:
    explicit Builder(const std::vector<Term>& terms) : terms_(terms) {}

    std::int32_t build(std::size_t index, std::int32_t next) {
        const Term& term = terms_[index];
        switch (term.type) {
            case Term::Type::empty:
                return next;
            case Term::Type::set:
                return add(Node{Kind::byteSet, term.set, next, -1});
            case Term::Type::textStart:
                return add(Node{Kind::textStart, 0, next, -1});
            case Term::Type::textEnd:
                return add(Node{Kind::textEnd, 0, next, -1});
            case Term::Type::sequence:
                for (std::size_t i = term.parts.size(); i-- > 0;)
                    next = build(term.parts[i], next);
                return next;
            case Term::Type::choice: {
                std::int32_t entry = build(term.parts.back(), next);
                for (auto part = term.parts.rbegin() + 1; part != term.parts.rend(); ++part)
                    entry = add(Node{Kind::split, 0, build(*part, next), entry});
                return entry;
            }
            case Term::Type::repeat:
                return repeat(term, next);
            case Term::Type::group: {
                const std::int32_t end = add(Node{Kind::save, static_cast<std::uint16_t>(2 * term.set + 1), next, -1});
                return add(
                    Node{Kind::save, static_cast<std::uint16_t>(2 * term.set), build(term.parts.front(), end), -1});
            }
        }
        return next;
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
    std::int32_t repeat(const Term& term, std::int32_t next) {
        const std::size_t body = term.parts.front();
        std::int32_t entry = next;
        std::uint32_t copies = term.min;
        if (term.max == kUnbounded) {
            // x* is a loop; x{n,} is n - 1 copies then x+, whose loop re-enters the last copy.
            const std::int32_t loop = add(Node{});
            if (failed_) return next;
            const std::int32_t inside = build(body, loop);
            nodes_[static_cast<std::size_t>(loop)] = choice(term.lazy, inside, next);
            entry = term.min == 0 ? loop : inside;
            if (copies > 0) --copies;
        } else {
            // x{n,m}: n copies, then m - n optional ones, each of which may leave for `next`.
            for (std::uint32_t i = term.min; i < term.max && !failed_; ++i)
                entry = add(choice(term.lazy, build(body, entry), next));
        }
        for (std::uint32_t i = 0; i < copies && !failed_; ++i)
            entry = build(body, entry);
        return entry;
    }

    // A greedy repetition tries one more iteration first, a lazy one leaving first.
    static Node choice(bool lazy, std::int32_t again, std::int32_t leave) {
        return lazy ? Node{Kind::split, 0, leave, again} : Node{Kind::split, 0, again, leave};
    }

    const std::vector<Term>& terms_;
    std::vector<Node> nodes_;
    bool failed_ = false;
};

}  // namespace

std::shared_ptr<const RegexNfa> RegexNfa::parse(std::string_view pattern, bool caseInsensitive) {
    Parser parser(pattern, caseInsensitive);
    const auto root = parser.parse();
    if (!root) return nullptr;
    Builder builder(parser.terms());
    const std::int32_t match = builder.add(Node{Kind::match, 0, -1, -1});
    const std::int32_t start = builder.build(*root, match);
    if (builder.failed()) return nullptr;
    std::shared_ptr<RegexNfa> nfa(new RegexNfa());
    nfa->nodes_ = std::move(builder.nodes());
    nfa->sets_ = std::move(parser.sets());
    nfa->start_ = start;
    nfa->captureCount_ = parser.groupCount();
    nfa->capturesExact_ = !parser.repeatsNullable();
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
