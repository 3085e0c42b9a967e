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
        if (isPlainWord(patterns[rule])) {
            // Looked up by a reused buffer, so that a word already listed makes no string.
            word_.assign(patterns[rule]);
            std::transform(word_.begin(), word_.end(), word_.begin(), lower);
            if (const auto found = words_.find(word_); found != words_.end()) {
                found->second.push_back(Hit{listNumber, rule});
            } else {
                words_.emplace(word_, Hits{Hit{listNumber, rule}});
            }
        } else if (auto words = literalExpansion(patterns[rule])) {
            for (const auto& word : *words)
                words_[word].push_back(Hit{listNumber, rule});
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

const NameRuleIndex::Hits* NameRuleIndex::wordHits(const std::string& lowerName) const {
    const auto found = words_.find(lowerName);
    return found == words_.end() ? nullptr : &found->second;
}

void NameRuleIndex::lookup(std::size_t list, const Hits* hits, std::string_view lowerName,
                           std::vector<std::uint32_t>& literalHits, std::vector<std::uint32_t>& regexCandidates) const {
    literalHits.clear();
    regexCandidates.clear();
    if (list >= lists_.size()) return;
    if (hits != nullptr) {
        // Hits were added list by list in rule order, so each list's hits are contiguous and sorted.
        // A common name has hits in hundreds of lists: its run is found, not scanned for.
        auto hit = std::lower_bound(hits->begin(), hits->end(), list,
                                    [](const Hit& entry, std::size_t number) { return entry.list < number; });
        for (; hit != hits->end() && hit->list == list; ++hit) {
            if (literalHits.empty() || literalHits.back() != hit->rule) literalHits.push_back(hit->rule);
        }
    }
    for (const RegexRule& rule : lists_[list].regexRules) {
        if (rule.filter.mayMatch(lowerName, lowerName)) regexCandidates.push_back(rule.rule);
    }
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
