// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/PatternSyntax.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <climits>

namespace tessaril {

namespace {

using Kind = PatternSyntax::Kind;
using Form = PatternSyntax::Form;
using Quantifier = PatternSyntax::Quantifier;
using Greed = PatternSyntax::Greed;

bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isPrintable(unsigned char c) {
    return c >= 0x20 && c <= 0x7E;
}

// The shorthands a set read member by member may hold.
bool isSetShorthand(unsigned char c) {
    return c == 'd' || c == 'D' || c == 'w' || c == 'W' || c == 's' || c == 'S';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code point that hexadecimal `digits` spell, when they are one to six digits naming a
// character (not a surrogate).
std::optional<std::uint32_t> hexCharacter(std::string_view digits) {
    if (digits.empty() || digits.size() > 6) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : digits) {
        if (hexDigit(c) < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(hexDigit(c));
    }
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    return value;
}

}  // namespace

// Recursive descent, one node per construct; every step either reads what it sees or refuses the
// pattern. Nesting is bounded, so the recursion is too.
class PatternReader {
public:
    PatternReader(std::string_view pattern, PatternSyntax& syntax)
        : p_(pattern), syntax_(syntax), nodes_(syntax.nodes_) {}

    bool read() {
        if (p_.starts_with("(?i)")) {
            syntax_.caseInsensitive_ = true;
            at_ = 4;
        }
        nodes_.reserve(p_.size() + 2);
        add(Kind::group, Form::nonCapturing, at_);
        if (!branches(PatternSyntax::root, 0) || at_ != p_.size()) return false;
        nodes_.front().end = static_cast<std::uint32_t>(at_);
        for (const auto& node : nodes_) {
            syntax_.kinds_ |= 1U << static_cast<unsigned>(node.kind);
            syntax_.forms_ |= 1U << static_cast<unsigned>(node.form);
        }
        return true;
    }

private:
    bool atEnd() const { return at_ >= p_.size(); }
    unsigned char peek(std::size_t ahead = 0) const {
        return at_ + ahead < p_.size() ? static_cast<unsigned char>(p_[at_ + ahead]) : 0;
    }
    bool accept(char c) {
        if (atEnd() || p_[at_] != c) return false;
        ++at_;
        return true;
    }
    // Moves past the next `c`; false when there is none.
    bool skipPast(char c) {
        const auto found = p_.find(c, at_);
        if (found == std::string_view::npos) return false;
        at_ = found + 1;
        return true;
    }

    // A node whose text runs from `begin` to here.
    std::int32_t add(Kind kind, Form form, std::size_t begin, std::uint32_t value = 0) {
        PatternSyntax::Node node;
        node.kind = kind;
        node.form = form;
        node.value = value;
        node.begin = static_cast<std::uint32_t>(begin);
        node.end = static_cast<std::uint32_t>(at_);
        nodes_.push_back(node);
        return static_cast<std::int32_t>(nodes_.size() - 1);
    }

    // Makes `child` the next child of `parent`, after `previous` (-1 for the first); `previous`
    // becomes `child`.
    void link(std::int32_t parent, std::int32_t& previous, std::int32_t child) {
        (previous < 0 ? nodes_[static_cast<std::size_t>(parent)].child
                      : nodes_[static_cast<std::size_t>(previous)].next) = child;
        previous = child;
    }

    // The alternatives of `holder`, up to a ")" or the end.
    bool branches(std::int32_t holder, std::size_t depth) {
        std::int32_t previous = -1;
        while (true) {
            const auto branch = add(Kind::branch, Form::none, at_);
            link(holder, previous, branch);
            if (!sequence(branch, depth)) return false;
            nodes_[static_cast<std::size_t>(branch)].end = static_cast<std::uint32_t>(at_);
            if (!accept('|')) return true;
        }
    }

    bool sequence(std::int32_t branch, std::size_t depth) {
        std::int32_t previous = -1;
        while (!atEnd() && peek() != '|' && peek() != ')') {
            const unsigned char c = peek();
            if (c == '*' || c == '+' || c == '?' || c == '{') {
                if (previous < 0 || !quantifier(nodes_[static_cast<std::size_t>(previous)])) return false;
                continue;
            }
            const auto item = this->item(depth);
            if (item < 0) return false;
            link(branch, previous, item);
        }
        return true;
    }

    bool quantifier(PatternSyntax::Node& node) {
        if (node.quantifier != Quantifier::none) return false;
        const char c = p_[at_++];
        node.min = c == '+' ? 1 : 0;
        node.max = c == '?' ? 1 : PatternSyntax::unbounded;
        node.quantifier = c == '*' ? Quantifier::star : c == '+' ? Quantifier::plus : Quantifier::question;
        if (c == '{') {
            node.quantifier = Quantifier::counted;
            if (!number(node.min)) return false;
            node.max = node.min;
            if (accept(',')) {
                node.max = PatternSyntax::unbounded;
                if (isDigit(peek())) (void)number(node.max);
            }
            if (!accept('}') || node.max < node.min) return false;
        }
        if (accept('?')) {
            node.greed = Greed::lazy;
        } else if (accept('+')) {
            node.greed = Greed::possessive;
        }
        node.end = static_cast<std::uint32_t>(at_);
        return true;
    }

    // Digits, their value kept below `unbounded`.
    bool number(std::uint32_t& value) {
        if (!isDigit(peek())) return false;
        std::uint64_t total = 0;
        while (isDigit(peek()))
            total = std::min<std::uint64_t>(total * 10 + (p_[at_++] - '0'), PatternSyntax::unbounded - 1);
        value = static_cast<std::uint32_t>(total);
        return true;
    }

    // The character at the current position, decoded; nothing for bytes that are not UTF-8.
    std::optional<std::uint32_t> character() {
        const unsigned char byte = peek();
        if (byte < 0x80) {
            ++at_;
            return byte;
        }
        auto i = static_cast<std::int32_t>(at_);
        UChar32 c = 0;
        U8_NEXT(reinterpret_cast<const std::uint8_t*>(p_.data()), i, static_cast<std::int32_t>(p_.size()), c);
        if (c < 0) return std::nullopt;
        at_ = static_cast<std::size_t>(i);
        return static_cast<std::uint32_t>(c);
    }

    std::int32_t item(std::size_t depth) {
        const std::size_t begin = at_;
        switch (peek()) {
            case '(':
                return group(depth);
            case '[':
                return set();
            case '\\':
                return escape();
            case '.':
                ++at_;
                return add(Kind::any, Form::none, begin);
            case '^':
            case '$':
                ++at_;
                return add(Kind::assertion, Form::none, begin, static_cast<unsigned char>(p_[begin]));
            case '}':
                // ICU refuses a "}" that closes nothing.
                return -1;
            default: {
                const auto c = character();
                return c ? add(Kind::literal, Form::plain, begin, *c) : -1;
            }
        }
    }

    std::int32_t group(std::size_t depth) {
        const std::size_t begin = at_++;
        if (depth >= PatternSyntax::maximumDepth) return -1;
        Kind kind = Kind::group;
        Form form = Form::capturing;
        if (accept('?')) {
            if (accept(':')) {
                form = Form::nonCapturing;
            } else if (accept('>')) {
                form = Form::atomic;
            } else if (accept('=') || accept('!') || lookbehind()) {
                kind = Kind::lookaround;
                form = Form::none;
            } else if (accept('<')) {
                if (!skipPast('>')) return -1;
                form = Form::named;
            } else if (accept('#')) {
                return skipPast(')') ? add(Kind::opaque, Form::comment, begin) : -1;
            } else {
                // Inline flags. "x" makes spaces and "#" mean something else from there on: refused.
                while (isLetter(peek()) || peek() == '-') {
                    if (peek() == 'x') return -1;
                    ++at_;
                }
                if (accept(')')) return add(Kind::opaque, Form::flags, begin);
                if (!accept(':')) return -1;
                kind = Kind::opaque;
                form = Form::flags;
            }
        }
        const auto index = add(kind, form, begin);
        if (form == Form::capturing || form == Form::named)
            nodes_.back().value = static_cast<std::uint32_t>(++syntax_.groupCount_);
        syntax_.depth_ = std::max(syntax_.depth_, depth + 1);
        if (!branches(index, depth + 1) || !accept(')')) return -1;
        nodes_[static_cast<std::size_t>(index)].end = static_cast<std::uint32_t>(at_);
        return index;
    }

    // Moves past "<=" or "<!".
    bool lookbehind() {
        if (peek() != '<' || (peek(1) != '=' && peek(1) != '!')) return false;
        at_ += 2;
        return true;
    }

    std::int32_t set() {
        const std::size_t begin = at_++;
        const auto index = add(Kind::set, Form::modelled, begin);
        nodes_.back().negated = accept('^');
        if (!members(index)) {
            // Its members are dropped, and it ends where ICU's outer reading ends it: after the
            // sets nested in it, escaped characters skipped, a leading "]" taken as a member.
            nodes_.resize(static_cast<std::size_t>(index) + 1);
            nodes_.back().child = -1;
            nodes_.back().form = Form::none;
            at_ = begin + 1;
            (void)accept('^');
            (void)accept(']');
            int depth = 1;
            while (!atEnd() && depth > 0) {
                const char c = p_[at_];
                at_ += c == '\\' ? 2 : 1;
                depth += c == '[' ? 1 : c == ']' ? -1 : 0;
            }
            if (depth > 0) return -1;
        }
        nodes_[static_cast<std::size_t>(index)].end = static_cast<std::uint32_t>(at_);
        return index;
    }

    // The members of a set as ICU reads them, where that reading is simple: a hyphen is itself
    // first, after a range or a shorthand, and last; "&&" intersects and "x&-y" is the range x-y
    // beside a lone "&", so those forms, "--", nested sets and a "]" first are left unread.
    bool members(std::int32_t set) {
        if (peek() == ']') return false;
        std::int32_t previous = -1;
        while (!accept(']')) {
            if (atEnd() || peek() == '[' || (peek() == '&' && (peek(1) == '&' || peek(1) == '-')) ||
                (peek() == '-' && peek(1) == '-')) {
                return false;
            }
            const std::size_t begin = at_;
            if (accept('-')) {
                link(set, previous, add(Kind::literal, Form::plain, begin, '-'));
                continue;
            }
            const auto low = member();
            if (low < 0) return false;
            link(set, previous, low);
            if (nodes_.back().kind == Kind::shorthand || peek() != '-' || peek(1) == ']') continue;
            ++at_;
            if (peek() == '[' || peek() == '-') return false;
            const auto high = member();
            auto& first = nodes_[static_cast<std::size_t>(low)];
            if (high < 0 || nodes_.back().kind != Kind::literal || nodes_.back().value < first.value) return false;
            first.kind = Kind::range;
            first.form = Form::none;
            first.last = nodes_.back().value;
            first.end = static_cast<std::uint32_t>(at_);
            nodes_.pop_back();
        }
        return true;
    }

    // One member: a printable ASCII character, escaped punctuation, or \d \w \s and capitals.
    std::int32_t member() {
        const std::size_t begin = at_;
        const unsigned char c = peek();
        ++at_;
        if (c != '\\') return isPrintable(c) ? add(Kind::literal, Form::plain, begin, c) : -1;
        const unsigned char escaped = peek();
        ++at_;
        if (isSetShorthand(escaped)) return add(Kind::shorthand, Form::none, begin, escaped);
        return PatternSyntax::isPunctuation(escaped) ? add(Kind::literal, Form::escaped, begin, escaped) : -1;
    }

    std::int32_t escape() {
        const std::size_t begin = at_++;
        if (atEnd()) return -1;
        const unsigned char c = peek();
        if (isDigit(c)) {
            ++at_;
            return add(Kind::backReference, Form::none, begin, c - '0');
        }
        if (!isLetter(c)) {
            const auto quoted = character();
            return quoted ? add(Kind::literal, Form::escaped, begin, *quoted) : -1;
        }
        ++at_;
        switch (c) {
            case 't':
                return add(Kind::literal, Form::coded, begin, '\t');
            case 'n':
                return add(Kind::literal, Form::coded, begin, '\n');
            case 'r':
                return add(Kind::literal, Form::coded, begin, '\r');
            case 'x':
                return hexadecimal(begin);
            case 'b':
            case 'B':
            case 'A':
            case 'z':
            case 'Z':
            case 'G':
                return add(Kind::assertion, Form::none, begin, c);
            case 'd':
            case 'D':
            case 'w':
            case 'W':
            case 's':
            case 'S':
            case 'h':
            case 'H':
            case 'v':
            case 'V':
            case 'R':
            case 'X':
                return add(Kind::shorthand, Form::none, begin, c);
            case 'p':
            case 'P':
                return accept('{') && skipPast('}') ? add(Kind::shorthand, Form::none, begin, c) : -1;
            case 'Q': {
                const auto end = p_.find("\\E", at_);
                at_ = end == std::string_view::npos ? p_.size() : end + 2;
                return add(Kind::opaque, Form::quote, begin, c);
            }
            case 'k':
                // A back-reference by name.
                if (accept('<')) return skipPast('>') ? add(Kind::backReference, Form::none, begin, 0) : -1;
                return add(Kind::opaque, Form::escape, begin, c);
            case 'N':
                if (accept('{') && !skipPast('}')) return -1;
                return add(Kind::opaque, Form::escape, begin, c);
            default:
                return add(Kind::opaque, Form::escape, begin, c);
        }
    }

    // "\xhh" or "\x{h...}" naming a character; any other form is an opaque escape, its braces
    // included.
    std::int32_t hexadecimal(std::size_t begin) {
        std::optional<std::uint32_t> value;
        if (accept('{')) {
            const std::size_t digits = at_;
            if (!skipPast('}')) return -1;
            value = hexCharacter(p_.substr(digits, at_ - 1 - digits));
        } else if (hexDigit(static_cast<char>(peek())) >= 0 && hexDigit(static_cast<char>(peek(1))) >= 0) {
            value = hexCharacter(p_.substr(at_, 2));
            at_ += 2;
        }
        return value ? add(Kind::literal, Form::coded, begin, *value) : add(Kind::opaque, Form::escape, begin, 'x');
    }

    std::string_view p_;
    std::size_t at_ = 0;
    PatternSyntax& syntax_;
    std::vector<PatternSyntax::Node>& nodes_;
};

std::optional<PatternSyntax> PatternSyntax::parse(std::string_view pattern) {
    if (pattern.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
    PatternSyntax syntax;
    if (!PatternReader(pattern, syntax).read()) return std::nullopt;
    return syntax;
}

std::size_t PatternSyntax::childCount(std::int32_t index) const {
    std::size_t count = 0;
    for (auto child = node(index).child; child >= 0; child = node(child).next)
        ++count;
    return count;
}

}  // namespace tessaril
