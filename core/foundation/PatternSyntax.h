// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tessaril {

// A rule pattern in ICU's syntax, read once into a small tree. The automaton, the literal
// prefilter, the name index's word lists and Command Guard's alternatives are all derived from it;
// each decides for itself which nodes it can use. What is read but not modelled (an unknown escape,
// \Q...\E quoting, inline flags, a comment) becomes an opaque node, so that a reader gives up on
// exactly what it does not know, and the rest of the pattern is still read.
//
// Nodes sit in one array in the order their text appears (a node before what it holds), each with
// its first child and its next sibling. The whole pattern (node 0, after a leading "(?i)") and every
// group, look-around and flag group hold their alternatives as branch nodes; a branch holds its
// items in order; a modelled set holds its members. An item carries its own quantifier: a repeated
// quantifier ("a**") is refused, as ICU refuses it, and so is nesting deeper than ICU accepts.
class PatternSyntax {
public:
    enum class Kind : std::uint8_t {
        group,          // "(...)", "(?:...)", "(?>...)", "(?<name>...)", and the whole pattern
        lookaround,     // "(?=...)", "(?!...)", "(?<=...)", "(?<!...)"
        branch,         // one alternative
        literal,        // one character, `value`
        any,            // "."
        set,            // "[...]"
        range,          // "a-z" in a set, `value` to `last`
        shorthand,      // "\d", "\w", "\s", "\h", "\v", "\R", "\X", "\p{...}" and their capitals: `value` is the letter
        backReference,  // a backslash and one digit, `value`; or "\k<name>", `value` 0
        assertion,      // "^", "$", "\b", "\B", "\A", "\z", "\Z", "\G": `value` is the sign or letter
        opaque,         // see Form
    };
    enum class Form : std::uint8_t {
        none,
        // Groups; capturing and named ones are numbered in `value` by their opening parenthesis.
        capturing,
        nonCapturing,
        atomic,
        named,
        // Literals: "a", "\." (a backslash before a character that is not a letter or digit), and a
        // character given by a code ("\t", "\n", "\r", "\x41", "\x{1F600}").
        plain,
        escaped,
        coded,
        // A set within the part of ICU's set syntax read member by member: characters, escaped
        // punctuation, ranges and \d \w \s (and capitals); "&&", "--", nested sets, POSIX classes, a
        // leading "]" and the like leave it without members.
        modelled,
        // Opaque nodes: an escape with another letter (with its braces for "\N{...}" and "\x{...}"),
        // "\Q...\E", inline flags "(?m)" or "(?s:...)" (holding branches), and "(?#...)".
        escape,
        quote,
        flags,
        comment,
    };
    enum class Quantifier : std::uint8_t { none, star, plus, question, counted };
    enum class Greed : std::uint8_t { greedy, lazy, possessive };

    static constexpr std::uint32_t unbounded = UINT32_MAX;
    // The deepest nesting of groups ICU accepts.
    static constexpr std::size_t maximumDepth = 99;

    struct Node {
        Kind kind = Kind::branch;
        Form form = Form::none;
        Quantifier quantifier = Quantifier::none;
        Greed greed = Greed::greedy;
        bool negated = false;  // a set's "[^"
        std::uint32_t value = 0;
        std::uint32_t last = 0;
        // How often the item repeats: 1 to 1 without a quantifier, up to `unbounded`.
        std::uint32_t min = 1;
        std::uint32_t max = 1;
        std::int32_t child = -1;
        std::int32_t next = -1;
        // Its text in the pattern, quantifier included.
        std::uint32_t begin = 0;
        std::uint32_t end = 0;
    };

    // Nothing when the text is not a pattern this reads: a syntax error, bytes that are not UTF-8,
    // "(?x)" (which changes how the rest reads), or too deep a nesting.
    [[nodiscard]] static std::optional<PatternSyntax> parse(std::string_view pattern);

    static constexpr std::int32_t root = 0;
    [[nodiscard]] const Node& node(std::int32_t index) const { return nodes_[static_cast<std::size_t>(index)]; }
    [[nodiscard]] std::size_t size() const { return nodes_.size(); }
    // Whether the pattern begins with "(?i)", which the root does not hold.
    [[nodiscard]] bool caseInsensitive() const { return caseInsensitive_; }
    // Capturing and named groups.
    [[nodiscard]] std::size_t groupCount() const { return groupCount_; }
    // The deepest nesting of groups, look-arounds and flag groups (0 without any).
    [[nodiscard]] std::size_t depth() const { return depth_; }
    [[nodiscard]] bool holds(Kind kind) const { return (kinds_ >> static_cast<unsigned>(kind) & 1U) != 0; }
    [[nodiscard]] bool holds(Form form) const { return (forms_ >> static_cast<unsigned>(form) & 1U) != 0; }
    // The number of children of a node.
    [[nodiscard]] std::size_t childCount(std::int32_t index) const;

    // Printable ASCII that is neither a letter, a digit nor the space: what a backslash before it
    // leaves as itself, whatever ICU makes of the character bare.
    [[nodiscard]] static constexpr bool isPunctuation(std::uint32_t c) {
        return c > 0x20 && c < 0x7F && !(c >= '0' && c <= '9') && !((c | 0x20U) >= 'a' && (c | 0x20U) <= 'z');
    }

private:
    friend class PatternReader;
    std::vector<Node> nodes_;
    bool caseInsensitive_ = false;
    std::size_t groupCount_ = 0;
    std::size_t depth_ = 0;
    std::uint32_t kinds_ = 0;
    std::uint32_t forms_ = 0;
};

}  // namespace tessaril
