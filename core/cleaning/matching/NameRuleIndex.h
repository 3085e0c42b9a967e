// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/matching/NameFragmentKeys.h"
#include "core/foundation/KnownPrefilters.h"
#include "core/foundation/RulePrefilter.h"
#include "core/foundation/ShortTextHash.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaril {

// Answers "which whole-name rules match this parameter name" for many ordered rule lists at once
// (one list per provider, or the single list of built-in and custom rules) without running most of
// their expressions.
//
// Every rule is "^" + pattern + "$", compiled case-insensitively. A pattern whose language is a
// short finite list of ASCII words (plain names, optional parts "x?" and "(?:a|b)?", escaped
// punctuation) is answered by one hash lookup of the lower-cased name. That is exact for names of
// printable ASCII characters: ICU compares those by ASCII case alone, and "$" cannot meet a line
// break. Other patterns keep their expressions, behind a literal prefilter; names with other bytes
// are left to the expressions entirely (the caller runs every rule).
class NameRuleIndex {
public:
    // One list's rules, in order; `patterns[k]` is rule k's pattern without the anchors. The filters
    // of expression rules come from `prefilters`.
    void addList(const std::vector<std::string_view>& patterns, const KnownPrefilters& prefilters = {});

    // Room for this many words, for a caller about to add lists of about as many rules: the index is
    // then not rehashed as it fills.
    void reserveWords(std::size_t count);
    // Groups the word hits of every list added so far by word; wordHits answers for those lists.
    // Called once the last list is added (again after adding more).
    void groupWordHits();

    // Whether `name` can be answered here: printable ASCII only. `lowerName` receives its lower-case
    // form when it can.
    [[nodiscard]] static bool prepare(std::string_view name, std::string& lowerName);

    struct Hit {
        std::uint32_t list;
        std::uint32_t rule;
    };
    using Hits = std::vector<Hit>;

    // The literal rules of every list that a prepared name matches, in (list, rule) order; empty when
    // none does. One hash lookup per name, shared by all lists.
    [[nodiscard]] std::span<const Hit> wordHits(std::string_view lowerName) const;

    // Whether list `list` has rules that are not answered by lookup alone.
    [[nodiscard]] bool hasExpressionRules(std::size_t list) const {
        return list < lists_.size() && !lists_[list].regexRules.empty();
    }

    // Makes the expression rules of `lists` (ascending, all added already) answerable by
    // expressionHits. A name asked of every such list at once pays for one walk over the name, not
    // one filter per rule.
    void indexExpressions(std::span<const std::uint32_t> lists);
    // For a prepared name, the expression rules of the indexed lists whose filter it passes, in
    // (list, rule) order; each must still be run. `hits` is overwritten.
    void expressionHits(std::string_view lowerName, Hits& hits) const;

    // The lower-case words a pattern stands for, or nothing when it is not such a pattern (the engine
    // asks too: such a rule's expression is compiled only when a name needs it).
    [[nodiscard]] static std::optional<std::vector<std::string>> literalExpansion(std::string_view pattern);

private:
    struct RegexRule {
        std::uint32_t rule;
        RulePrefilter filter;
    };
    struct List {
        std::vector<RegexRule> regexRules;
    };

    // The number of `word` (lower-case) in words_, which adds it when it is new.
    [[nodiscard]] std::uint32_t wordNumber(std::string_view word);
    // The number of `word`, or none.
    [[nodiscard]] std::optional<std::uint32_t> findWord(std::string_view word) const;
    // Room in slots_ for `count` words at most half full, which keeps every probe short and ending.
    void resizeSlots(std::size_t count);
    [[nodiscard]] std::string_view text(std::uint32_t word) const {
        return std::string_view(wordText_).substr(words_[word].begin, words_[word].length);
    }

    std::vector<List> lists_;
    // The distinct lower-case words, their letters in one text rather than a string each: thousands
    // of words are added at every load, and each new parameter name is looked up.
    struct Word {
        std::uint32_t begin;
        std::uint32_t length;
        std::size_t hash;
    };
    std::string wordText_;
    std::vector<Word> words_;
    // Open addressing (linear probing) over words_: a word's number + 1, or 0 for an empty slot. Its
    // size is a power of two and it is never more than half full.
    std::vector<std::uint32_t> slots_;
    // Every (word, hit) in the order the lists were added, and after groupWordHits the hits by word:
    // word w's are groupedHits_[hitsBegin_[w] .. hitsBegin_[w + 1]), in (list, rule) order.
    std::vector<std::pair<std::uint32_t, Hit>> wordEntries_;
    std::vector<Hit> groupedHits_;
    std::vector<std::uint32_t> hitsBegin_;
    // The indexed expression rules, entry k of expressionKeys_ being (list, position in regexRules).
    std::vector<Hit> indexedExpressions_;
    NameFragmentKeys expressionKeys_;
    mutable std::vector<std::uint64_t> entryBits_;
    // The word being added.
    std::string word_;
};

}  // namespace tessaril
