// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/matching/NameRuleIndex.h"

#include <algorithm>

namespace tessaril {

namespace {

constexpr std::size_t kMaximumWords = 64;
constexpr std::size_t kMaximumWordLength = 128;

bool isWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '%' || c == ':';
}

bool isAsciiPunctuation(char c) {
    return c > 0x20 && c < 0x7F && !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Reads the small grammar of finite patterns: words, "\" + punctuation, (?:...|...) groups, and "?"
// after a character or a group. Anything else stops the reading.
class Expander {
public:
    explicit Expander(std::string_view pattern) : p_(pattern) {}

    std::optional<std::vector<std::string>> run() {
        auto words = alternation(false);
        if (!ok_ || i_ != p_.size()) return std::nullopt;
        std::sort(words.begin(), words.end());
        words.erase(std::unique(words.begin(), words.end()), words.end());
        return words;
    }

private:
    using Words = std::vector<std::string>;

    Words alternation(bool inGroup) {
        Words all;
        while (ok_) {
            Words branch = sequence();
            all.insert(all.end(), branch.begin(), branch.end());
            if (i_ < p_.size() && p_[i_] == '|') {
                // A top-level alternation is not a whole-name match: the anchors bind only its ends.
                if (!inGroup) ok_ = false;
                ++i_;
                continue;
            }
            break;
        }
        if (all.size() > kMaximumWords) ok_ = false;
        return all;
    }

    Words sequence() {
        Words words{std::string()};
        while (ok_ && i_ < p_.size() && p_[i_] != '|' && p_[i_] != ')') {
            Words atom;
            const char c = p_[i_];
            if (c == '(') {
                if (p_.substr(i_, 3) != "(?:") {
                    ok_ = false;
                    break;
                }
                i_ += 3;
                atom = alternation(true);
                if (!ok_ || i_ >= p_.size() || p_[i_] != ')') {
                    ok_ = false;
                    break;
                }
                ++i_;
            } else if (c == '\\') {
                if (i_ + 1 >= p_.size() || !isAsciiPunctuation(p_[i_ + 1])) {
                    ok_ = false;
                    break;
                }
                atom.emplace_back(1, lower(p_[i_ + 1]));
                i_ += 2;
            } else if (isWordCharacter(c)) {
                atom.emplace_back(1, lower(c));
                ++i_;
            } else {
                ok_ = false;
                break;
            }
            if (i_ < p_.size() && p_[i_] == '?') {
                ++i_;
                // "??" is the lazy form of the same choice; "?+" gives the same words too.
                if (i_ < p_.size() && (p_[i_] == '?' || p_[i_] == '+')) ++i_;
                atom.emplace_back();
            }
            if (i_ < p_.size() && (p_[i_] == '*' || p_[i_] == '+' || p_[i_] == '{')) {
                ok_ = false;
                break;
            }
            Words combined;
            for (const auto& head : words) {
                for (const auto& tail : atom) {
                    if (head.size() + tail.size() > kMaximumWordLength) ok_ = false;
                    combined.push_back(head + tail);
                }
            }
            if (combined.size() > kMaximumWords) ok_ = false;
            words = std::move(combined);
        }
        return words;
    }

    std::string_view p_;
    std::size_t i_ = 0;
    bool ok_ = true;
};

}  // namespace

std::optional<std::vector<std::string>> NameRuleIndex::literalExpansion(std::string_view pattern) {
    return Expander(pattern).run();
}

void NameRuleIndex::addList(const std::vector<std::string_view>& patterns) {
    const auto listNumber = static_cast<std::uint32_t>(lists_.size());
    List list;
    for (std::uint32_t rule = 0; rule < patterns.size(); ++rule) {
        if (auto words = literalExpansion(patterns[rule])) {
            for (const auto& word : *words)
                words_[word].push_back(Hit{listNumber, rule});
        } else {
            const std::string anchored = "^" + std::string(patterns[rule]) + "$";
            list.regexRules.push_back(RegexRule{rule, RulePrefilter::fromPattern(anchored, true)});
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
        for (const Hit& hit : *hits) {
            if (hit.list == list && (literalHits.empty() || literalHits.back() != hit.rule))
                literalHits.push_back(hit.rule);
        }
    }
    for (const RegexRule& rule : lists_[list].regexRules) {
        if (rule.filter.mayMatch(lowerName, lowerName)) regexCandidates.push_back(rule.rule);
    }
}

}  // namespace tessaril
