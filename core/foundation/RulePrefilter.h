// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaril {

// Literal fragments that every match of a rule's pattern contains, so that a text without them is
// skipped without running the expression: a few sets, each of which must have at least one fragment
// in the text. Most texts contain none of a rule's key words, and a substring search is
// far cheaper than an ICU match attempt at every position. A filter without sets lets every text
// through.
class RulePrefilter {
public:
    RulePrefilter() = default;

    // Derived by reading the pattern. Whatever the reading does not fully understand (inline flags
    // other than a leading (?i), \Q quoting, unknown escapes...) gives a filter that lets
    // everything through, so the filter can only ever skip texts the expression cannot match.
    [[nodiscard]] static RulePrefilter fromPattern(std::string_view pattern);
    // The same for a pattern compiled with the case-insensitive option (as if it began with (?i)).
    [[nodiscard]] static RulePrefilter fromPattern(std::string_view pattern, bool caseInsensitive);
    // A filter read before (its requirements() and caseInsensitive()), as KnownPrefilters keeps them.
    [[nodiscard]] static RulePrefilter fromRequirements(std::vector<std::vector<std::string>> requirements,
                                                        bool caseInsensitive) {
        RulePrefilter filter;
        filter.requirements_ = std::move(requirements);
        filter.caseInsensitive_ = caseInsensitive;
        return filter;
    }

    // `text` is the text to search; `foldedText` is foldForMatching(text), used by case-insensitive filters.
    [[nodiscard]] bool mayMatch(std::string_view text, std::string_view foldedText) const;
    // ASCII letters lower-cased, and the few non-ASCII letters that ICU's case-insensitive matching
    // equates with ASCII ones (long s, Kelvin sign, dotted capital I) replaced by them.
    [[nodiscard]] static std::string foldForMatching(std::string_view text);
    // Appends ICU's full case folding of `text` to `out`: ASCII letters lower-cased, and every other
    // character replaced by its full folding ("\xC3\x9F" becomes "ss", a ligature its letters), which
    // is what ICU compares literal text against in a case-insensitive match. A fragment of a
    // case-insensitive filter that is absent from this text therefore cannot be matched, whatever
    // non-ASCII characters the text holds. Bytes that are not UTF-8 are kept as they are.
    static void foldFullyInto(std::string_view text, std::string& out);

    // Each inner list is one requirement: at least one of its fragments must occur.
    [[nodiscard]] const std::vector<std::vector<std::string>>& requirements() const { return requirements_; }
    [[nodiscard]] bool caseInsensitive() const { return caseInsensitive_; }

private:
    std::vector<std::vector<std::string>> requirements_;
    bool caseInsensitive_ = false;
};

}  // namespace tessaril
