// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/matching/NameRuleIndex.h"

#include "core/foundation/PatternSyntax.h"

#include <algorithm>
#include <bit>

namespace tessaril {

namespace {

constexpr std::size_t kMaximumWords = 64;
constexpr std::size_t kMaximumWordLength = 128;

using Words = std::vector<std::string>;

bool isWordCharacter(std::uint32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '%' || c == ':';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A plain word is its own only expansion, lower-cased: no need to parse it.
bool isPlainWord(std::string_view pattern) {
    return !pattern.empty() && pattern.size() <= kMaximumWordLength &&
           std::all_of(pattern.begin(), pattern.end(),
                       [](char c) { return isWordCharacter(static_cast<unsigned char>(c)); });
}

// Whether every character of `pattern` could belong to the grammar below: word characters, "\"
// before punctuation, "(?:", ")", "|", "?" and "+". A necessary condition only, which turns away
// most expressions (classes, dots, repeats, anchors) without parsing them.
bool mayBeFinite(std::string_view pattern) {
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const auto c = static_cast<unsigned char>(pattern[i]);
        if (c == '\\') {
            if (++i == pattern.size() || !PatternSyntax::isPunctuation(static_cast<unsigned char>(pattern[i])))
                return false;
        } else if (c == '(') {
            if (pattern.substr(i, 3) != "(?:") return false;
            i += 2;
        } else if (!isWordCharacter(c) && c != ')' && c != '|' && c != '?' && c != '+') {
            return false;
        }
    }
    return true;
}

// A plain word lower-cased into `out`, in one pass over it; false when `pattern` is not one (`out`
// is then unspecified).
bool lowerPlainWord(std::string_view pattern, std::string& out) {
    if (pattern.empty() || pattern.size() > kMaximumWordLength) return false;
    out.resize(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (!isWordCharacter(static_cast<unsigned char>(pattern[i]))) return false;
        out[i] = lower(pattern[i]);
    }
    return true;
}

std::string lowered(std::string_view word) {
    std::string out(word);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

// The words of the small grammar of finite patterns: word characters, "\" + punctuation,
// non-capturing groups, and "?" after a character or a group. Anything else gives nothing.
class Expander {
public:
    explicit Expander(const PatternSyntax& syntax) : syntax_(syntax) {}

    std::optional<Words> alternatives(std::int32_t holder) const {
        Words all;
        for (auto branch = syntax_.node(holder).child; branch >= 0; branch = syntax_.node(branch).next) {
            auto words = this->branch(branch);
            if (!words) return std::nullopt;
            all.insert(all.end(), words->begin(), words->end());
        }
        if (all.size() > kMaximumWords) return std::nullopt;
        return all;
    }

private:
    std::optional<Words> branch(std::int32_t branch) const {
        Words words{std::string()};
        for (auto item = syntax_.node(branch).child; item >= 0; item = syntax_.node(item).next) {
            const auto& node = syntax_.node(item);
            Words atom;
            if (node.kind == PatternSyntax::Kind::group && node.form == PatternSyntax::Form::nonCapturing) {
                auto inner = alternatives(item);
                if (!inner) return std::nullopt;
                atom = std::move(*inner);
            } else if (node.kind == PatternSyntax::Kind::literal &&
                       ((node.form == PatternSyntax::Form::plain && isWordCharacter(node.value)) ||
                        (node.form == PatternSyntax::Form::escaped && PatternSyntax::isPunctuation(node.value)))) {
                const char c = lower(static_cast<char>(node.value));
                if (node.quantifier == PatternSyntax::Quantifier::none) {
                    // Most atoms are one required character: it goes onto every word in place.
                    for (auto& word : words) {
                        if (word.size() + 1 > kMaximumWordLength) return std::nullopt;
                        word += c;
                    }
                    continue;
                }
                atom.emplace_back(1, c);
            } else {
                return std::nullopt;
            }
            // "??" is the lazy form of the same choice; "?+" gives the same words too.
            if (node.quantifier == PatternSyntax::Quantifier::question) {
                atom.emplace_back();
            } else if (node.quantifier != PatternSyntax::Quantifier::none) {
                return std::nullopt;
            }
            Words combined;
            for (const auto& head : words) {
                for (const auto& tail : atom) {
                    if (head.size() + tail.size() > kMaximumWordLength) return std::nullopt;
                    combined.push_back(head + tail);
                }
            }
            if (combined.size() > kMaximumWords) return std::nullopt;
            words = std::move(combined);
        }
        return words;
    }

    const PatternSyntax& syntax_;
};

}  // namespace

std::optional<std::vector<std::string>> NameRuleIndex::literalExpansion(std::string_view pattern) {
    if (isPlainWord(pattern)) return std::vector<std::string>{lowered(pattern)};
    if (!mayBeFinite(pattern)) return std::nullopt;
    // A top-level alternation is not a whole-name match: the anchors bind only its ends.
    const auto syntax = PatternSyntax::parse(pattern);
    if (!syntax || syntax->caseInsensitive() || syntax->childCount(PatternSyntax::root) != 1) return std::nullopt;
    auto words = Expander(*syntax).alternatives(PatternSyntax::root);
    if (!words) return std::nullopt;
    std::sort(words->begin(), words->end());
    words->erase(std::unique(words->begin(), words->end()), words->end());
    return words;
}

void NameRuleIndex::addList(const std::vector<std::string_view>& patterns, const KnownPrefilters& prefilters) {
    const auto listNumber = static_cast<std::uint32_t>(lists_.size());
    List list;
    for (std::uint32_t rule = 0; rule < patterns.size(); ++rule) {
        // Most names are plain words (thousands with the filter list): those skip the expansion's
        // vectors.
        if (lowerPlainWord(patterns[rule], word_)) {
            wordEntries_.emplace_back(wordNumber(word_), Hit{listNumber, rule});
        } else if (auto words = literalExpansion(patterns[rule])) {
            for (const auto& word : *words)
                wordEntries_.emplace_back(wordNumber(word), Hit{listNumber, rule});
        } else {
            const std::string anchored = "^" + std::string(patterns[rule]) + "$";
            list.regexRules.push_back(RegexRule{rule, prefilters.caseInsensitive(anchored)});
        }
    }
    lists_.push_back(std::move(list));
}

bool NameRuleIndex::prepare(std::string_view name, std::string& lowerName) {
    lowerName.clear();
    for (char c : name) {
        if (c < 0x20 || c > 0x7E) return false;
        lowerName += lower(c);
    }
    return true;
}

void NameRuleIndex::reserveWords(std::size_t count) {
    words_.reserve(count);
    wordEntries_.reserve(count);
    if (count > slots_.size() / 2) resizeSlots(count);
}

void NameRuleIndex::resizeSlots(std::size_t count) {
    // bit_ceil rounds up, so the table has at least twice `count` slots (and never fewer than 16).
    slots_.assign(std::bit_ceil(std::max<std::size_t>(16, count * 2)), 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t word = 0; word < words_.size(); ++word) {
        std::size_t at = words_[word].hash & mask;
        while (slots_[at] != 0)
            at = (at + 1) & mask;
        slots_[at] = word + 1;
    }
}

std::uint32_t NameRuleIndex::wordNumber(std::string_view word) {
    // Grown before the new word could make the table more than half full.
    if ((words_.size() + 1) * 2 > slots_.size()) resizeSlots(std::max<std::size_t>(words_.size() + 1, slots_.size()));
    const std::size_t hash = shortTextHash(word);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        std::uint32_t& slot = slots_[at];
        if (slot == 0) {
            const auto number = static_cast<std::uint32_t>(words_.size());
            words_.push_back(
                Word{static_cast<std::uint32_t>(wordText_.size()), static_cast<std::uint32_t>(word.size()), hash});
            wordText_.append(word);
            slot = number + 1;
            return number;
        }
        if (words_[slot - 1].hash == hash && text(slot - 1) == word) return slot - 1;
    }
}

std::optional<std::uint32_t> NameRuleIndex::findWord(std::string_view word) const {
    if (slots_.empty()) return std::nullopt;
    const std::size_t hash = shortTextHash(word);
    const std::size_t mask = slots_.size() - 1;
    // The table always has an empty slot, so a word that is not there ends the walk.
    for (std::size_t at = hash & mask; slots_[at] != 0; at = (at + 1) & mask) {
        const std::uint32_t number = slots_[at] - 1;
        if (words_[number].hash == hash && text(number) == word) return number;
    }
    return std::nullopt;
}

void NameRuleIndex::groupWordHits() {
    // A counting pass, then each hit into its word's run; taken in the order added, every run stays
    // in (list, rule) order.
    hitsBegin_.assign(words_.size() + 1, 0);
    for (const auto& entry : wordEntries_)
        ++hitsBegin_[entry.first + 1];
    for (std::size_t word = 0; word < words_.size(); ++word)
        hitsBegin_[word + 1] += hitsBegin_[word];
    groupedHits_.resize(wordEntries_.size());
    std::vector<std::uint32_t> next(hitsBegin_.begin(), hitsBegin_.end() - 1);
    for (const auto& [word, hit] : wordEntries_)
        groupedHits_[next[word]++] = hit;
}

std::span<const NameRuleIndex::Hit> NameRuleIndex::wordHits(std::string_view lowerName) const {
    const auto word = findWord(lowerName);
    // A word added after the last grouping has no hits yet.
    if (!word || *word + 1 >= hitsBegin_.size()) return {};
    return std::span(groupedHits_).subspan(hitsBegin_[*word], hitsBegin_[*word + 1] - hitsBegin_[*word]);
}

void NameRuleIndex::indexExpressions(std::span<const std::uint32_t> lists) {
    for (const std::uint32_t list : lists) {
        if (list >= lists_.size()) continue;
        const auto& rules = lists_[list].regexRules;
        for (std::uint32_t k = 0; k < rules.size(); ++k) {
            indexedExpressions_.push_back(Hit{list, k});
            expressionKeys_.add(rules[k].filter.requirements());
        }
    }
}

void NameRuleIndex::expressionHits(std::string_view lowerName, Hits& hits) const {
    hits.clear();
    expressionKeys_.find(lowerName, entryBits_);
    for (std::size_t word = 0; word < entryBits_.size(); ++word) {
        for (std::uint64_t bits = entryBits_[word]; bits != 0; bits &= bits - 1) {
            const Hit& entry = indexedExpressions_[word * 64 + static_cast<std::size_t>(std::countr_zero(bits))];
            const RegexRule& rule = lists_[entry.list].regexRules[entry.rule];
            if (rule.filter.mayMatch(lowerName, lowerName)) hits.push_back(Hit{entry.list, rule.rule});
        }
    }
}

}  // namespace tessaril
