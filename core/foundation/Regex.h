// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// A byte range [begin, end) into the UTF-8 text that was searched.
struct TextRange {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool operator==(const TextRange&) const = default;
};

struct RegexMatch {
    TextRange whole;
    // groups[i] is capture group i + 1; empty when that group did not take part in the match.
    std::vector<std::optional<TextRange>> groups;
};

// A text prepared for many searches by different expressions. ICU searches UTF-16 about twice as
// fast as UTF-8, so a long text that many expressions search (Command Guard's rules over a paste) is
// converted once, and the ranges found are mapped back to byte offsets into the UTF-8 text, which
// must outlive this. Malformed UTF-8 reads as U+FFFD, as in a search of the UTF-8 text itself.
class SearchText {
public:
    explicit SearchText(std::string_view utf8);

    [[nodiscard]] std::string_view utf8() const { return utf8_; }

private:
    friend class Regex;
    std::string_view utf8_;
    std::u16string utf16_;
    // Where each UTF-16 unit's character begins in utf8_, and utf8_.size() for the end; empty for
    // an ASCII text, whose units are its bytes.
    std::vector<std::uint32_t> byteOffsets_;
    // False for a text too long for ICU, which nothing then matches.
    bool searchable_ = false;
};

// A compiled regular expression in ICU syntax, matched against UTF-8 text without converting it.
// Compiling never throws; a pattern ICU rejects yields no Regex. A Regex may be copied cheaply (the
// compiled pattern is shared), but one object must not be used from two threads at once, and copying
// it counts as a use: it keeps a matcher so that repeated searches do not allocate, and the first copy
// of a deferred Regex sets up the automaton its copies share.
class Regex {
public:
    [[nodiscard]] static std::optional<Regex> compile(std::string_view pattern, bool caseInsensitive = false);
    // A Regex that compiles on its first use, for patterns the caller knows ICU accepts (built from a
    // grammar it has checked) and that may never be needed: loading many of them then costs nothing.
    // Should the pattern fail to compile after all, the Regex matches nothing. Takes the text over:
    // a rule load makes thousands of these from patterns it has just built.
    [[nodiscard]] static Regex deferred(std::string pattern, bool caseInsensitive = false);
    // The pattern that matches `literal` exactly (every metacharacter escaped).
    [[nodiscard]] static std::string escape(std::string_view literal);

    Regex(const Regex& other);
    Regex& operator=(const Regex& other);
    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;
    ~Regex();

    [[nodiscard]] const std::string& pattern() const;
    [[nodiscard]] std::size_t captureGroupCount() const;

    // True when the expression matches anywhere in `text` (an unanchored search). Patterns in a
    // common subset of the syntax are answered by a lazily built DFA in one pass over the text,
    // without ICU (and, for a deferred Regex, without ever compiling it) whenever the text is
    // printable ASCII up to the point where the answer is known; ICU answers the rest. The two agree
    // exactly, except on text hostile enough to exhaust ICU's work limit: ICU then reports no match,
    // while the DFA, which never gives up, reports the match if there is one (see LazyDfa.h).
    [[nodiscard]] bool search(std::string_view text) const;
    // The leftmost match, with ICU's ranges for the whole and for every group. Patterns in the same
    // subset, unless they repeat something that can match the empty string, are answered without ICU
    // on printable ASCII text (up to a length that depends on the pattern's size), by a walk that
    // tries alternatives in ICU's order but never explores one (node, offset) twice, so it too runs
    // in linear time and never gives up: where ICU would exhaust its work limit and report nothing,
    // it reports the match (see NfaBacktracker.h).
    [[nodiscard]] std::optional<RegexMatch> firstMatch(std::string_view text) const;
    // The same match, with ICU reading the prepared UTF-16 copy; with `from`, the first match that
    // starts at or after that byte offset (look-behinds and "\b" still see the text before it).
    [[nodiscard]] std::optional<RegexMatch> firstMatch(const SearchText& text, std::size_t from = 0) const;
    // Every non-overlapping match replaced by `replacement`, taken literally; the matches are found
    // as firstMatch finds them.
    [[nodiscard]] std::string replaceAll(std::string_view text, std::string_view replacement) const;

    // Bounds the work of each match (ICU "time limit" steps, 0 = none); a match that runs out
    // counts as no match, so hostile text cannot hang the caller.
    void setWorkLimit(std::int32_t steps);
    // With false, ICU answers every call, as it did before the fast paths existed: for measurements
    // and for checking the two against each other.
    void setFastPathEnabled(bool enabled);
    // Whether the latest search, firstMatch or replaceAll on this object stopped because it ran out
    // of work (the limit above) or of backtracking stack, rather than because nothing matched. Never
    // when a fast path answered.
    [[nodiscard]] bool lastMatchHitLimit() const;

private:
    struct Impl;
    explicit Regex(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tessaril
