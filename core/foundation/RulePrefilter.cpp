// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/RulePrefilter.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>

namespace tessaril {

namespace {

using Fragments = std::vector<std::string>;

constexpr std::size_t kMaximumRequirements = 3;

// One element of a parsed pattern. Only what decides "which literal text must occur" is kept.
struct Node {
    enum class Kind { literal, group, other, zeroWidth };
    Kind kind = Kind::other;
    std::string literal;  // one character, UTF-8
    std::vector<std::vector<Node>> alternatives;
    bool required = true;  // repeated at least once
    bool single = true;    // exactly once
};

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A reader for the subset of ICU syntax the shipped rules use. It fails (ok == false) rather than
// guess on anything else.
class PatternReader {
public:
    explicit PatternReader(std::string_view pattern) : p_(pattern) {}

    std::optional<std::vector<std::vector<Node>>> read(bool& caseInsensitive) {
        if (p_.starts_with("(?i)")) {
            caseInsensitive = true;
            i_ = 4;
        }
        auto alternatives = alternation(false);
        if (!ok_ || i_ != p_.size()) return std::nullopt;
        return alternatives;
    }

private:
    std::vector<std::vector<Node>> alternation(bool inGroup) {
        std::vector<std::vector<Node>> alternatives(1);
        while (ok_ && i_ < p_.size()) {
            const char c = p_[i_];
            if (c == '|') {
                alternatives.emplace_back();
                ++i_;
            } else if (c == ')') {
                if (!inGroup) ok_ = false;
                return alternatives;
            } else if (c == '*' || c == '+' || c == '?' || c == '{') {
                quantify(alternatives.back());
            } else {
                alternatives.back().push_back(atom());
            }
        }
        if (inGroup) ok_ = false;
        return alternatives;
    }

    void quantify(std::vector<Node>& sequence) {
        if (sequence.empty()) {
            ok_ = false;
            return;
        }
        Node& node = sequence.back();
        // No upper bound is the largest count; a plain value keeps GCC 12's -O3 uninitialised-use check quiet.
        std::size_t min = 0;
        std::size_t max = std::numeric_limits<std::size_t>::max();
        const char c = p_[i_++];
        if (c == '+') {
            min = 1;
        } else if (c == '{') {
            if (!number(min)) return;
            max = min;
            if (i_ < p_.size() && p_[i_] == ',') {
                ++i_;
                max = std::numeric_limits<std::size_t>::max();
                if (i_ < p_.size() && isDigit(p_[i_])) {
                    std::size_t upper = 0;
                    if (!number(upper)) return;
                    max = upper;
                }
            }
            if (i_ >= p_.size() || p_[i_] != '}') {
                ok_ = false;
                return;
            }
            ++i_;
        } else if (c == '?') {
            max = 1;
        }
        if (i_ < p_.size() && (p_[i_] == '?' || p_[i_] == '+')) ++i_;
        node.required = node.required && min >= 1;
        node.single = node.single && min == 1 && max == 1;
    }

    bool number(std::size_t& value) {
        const std::size_t start = i_;
        value = 0;
        while (i_ < p_.size() && isDigit(p_[i_]) && i_ - start < 6)
            value = value * 10 + static_cast<std::size_t>(p_[i_++] - '0');
        if (i_ == start) ok_ = false;
        return ok_;
    }

    Node atom() {
        const char c = p_[i_];
        if (c == '(') return group();
        if (c == '[') {
            skipClass();
            return Node{};
        }
        if (c == '\\') return escape();
        ++i_;
        if (c == '.') return Node{};
        if (c == '^' || c == '$') return zeroWidth();
        Node node{Node::Kind::literal, std::string(1, c), {}, true, true};
        // Copy the continuation bytes of a multi-byte character.
        while (i_ < p_.size() && (static_cast<unsigned char>(p_[i_]) & 0xC0) == 0x80)
            node.literal += p_[i_++];
        return node;
    }

    static Node zeroWidth() {
        Node node;
        node.kind = Node::Kind::zeroWidth;
        return node;
    }

    Node group() {
        ++i_;
        bool lookaround = false;
        if (i_ < p_.size() && p_[i_] == '?') {
            ++i_;
            if (i_ >= p_.size()) {
                ok_ = false;
                return Node{};
            }
            const char kind = p_[i_];
            if (kind == ':' || kind == '>') {
                ++i_;
            } else if (kind == '=' || kind == '!') {
                ++i_;
                lookaround = true;
            } else if (kind == '<' && i_ + 1 < p_.size() && (p_[i_ + 1] == '=' || p_[i_ + 1] == '!')) {
                i_ += 2;
                lookaround = true;
            } else if (kind == '<') {
                const auto close = p_.find('>', i_);
                if (close == std::string_view::npos) {
                    ok_ = false;
                    return Node{};
                }
                i_ = close + 1;
            } else {
                // Inline flags in the middle, comments and anything newer: do not guess.
                ok_ = false;
                return Node{};
            }
        }
        Node node;
        node.kind = lookaround ? Node::Kind::zeroWidth : Node::Kind::group;
        node.alternatives = alternation(true);
        if (!ok_ || i_ >= p_.size() || p_[i_] != ')') {
            ok_ = false;
            return Node{};
        }
        ++i_;
        if (lookaround) node.alternatives.clear();
        return node;
    }

    void skipClass() {
        ++i_;
        int depth = 1;
        if (i_ < p_.size() && p_[i_] == '^') ++i_;
        if (i_ < p_.size() && p_[i_] == ']') ++i_;
        while (i_ < p_.size() && depth > 0) {
            const char c = p_[i_];
            if (c == '\\') {
                i_ += 2;
                continue;
            }
            if (c == '[') ++depth;
            if (c == ']') --depth;
            ++i_;
        }
        if (depth > 0) ok_ = false;
    }

    Node escape() {
        ++i_;
        if (i_ >= p_.size()) {
            ok_ = false;
            return Node{};
        }
        const char e = p_[i_++];
        if (isDigit(e)) return Node{};
        if (!isLetter(e)) {
            Node node{Node::Kind::literal, std::string(1, e), {}, true, true};
            while (i_ < p_.size() && (static_cast<unsigned char>(p_[i_]) & 0xC0) == 0x80)
                node.literal += p_[i_++];
            return node;
        }
        switch (e) {
            case 't':
                return Node{Node::Kind::literal, "\t", {}, true, true};
            case 'n':
                return Node{Node::Kind::literal, "\n", {}, true, true};
            case 'r':
                return Node{Node::Kind::literal, "\r", {}, true, true};
            case 'x':
                return hexLiteral();
            case 'b':
            case 'B':
            case 'A':
            case 'z':
            case 'Z':
            case 'G':
                return zeroWidth();
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
                return Node{};
            case 'p':
            case 'P':
                if (i_ < p_.size() && p_[i_] == '{') {
                    const auto close = p_.find('}', i_);
                    if (close == std::string_view::npos) {
                        ok_ = false;
                        return Node{};
                    }
                    i_ = close + 1;
                } else {
                    ++i_;
                }
                return Node{};
            default:
                ok_ = false;
                return Node{};
        }
    }

    Node hexLiteral() {
        std::uint32_t value = 0;
        if (i_ < p_.size() && p_[i_] == '{') {
            ++i_;
            int digits = 0;
            while (i_ < p_.size() && hexDigit(p_[i_]) >= 0 && digits < 6) {
                value = value * 16 + static_cast<std::uint32_t>(hexDigit(p_[i_++]));
                ++digits;
            }
            if (digits == 0 || i_ >= p_.size() || p_[i_] != '}') {
                ok_ = false;
                return Node{};
            }
            ++i_;
        } else {
            for (int d = 0; d < 2; ++d) {
                if (i_ >= p_.size() || hexDigit(p_[i_]) < 0) {
                    ok_ = false;
                    return Node{};
                }
                value = value * 16 + static_cast<std::uint32_t>(hexDigit(p_[i_++]));
            }
        }
        if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            ok_ = false;
            return Node{};
        }
        Node node{Node::Kind::literal, {}, {}, true, true};
        appendUtf8(node.literal, value);
        return node;
    }

    std::string_view p_;
    std::size_t i_ = 0;
    bool ok_ = true;
};

std::size_t shortest(const Fragments& fragments) {
    std::size_t length = SIZE_MAX;
    for (const auto& fragment : fragments)
        length = std::min(length, fragment.size());
    return length;
}

std::optional<Fragments> necessaryOfAlternatives(const std::vector<std::vector<Node>>& alternatives);

// Whether `candidate` narrows texts down more than `best`: a longer shortest fragment, then fewer fragments.
bool moreSelective(const Fragments& candidate, const Fragments& best) {
    return shortest(candidate) > shortest(best) ||
           (shortest(candidate) == shortest(best) && candidate.size() < best.size());
}

// Bounds on the exact texts worked out for a stretch of a pattern, beyond which it is not worth it.
constexpr std::size_t kMaximumTexts = 16;
constexpr std::size_t kMaximumTextLength = 64;

std::optional<Fragments> textsOfSequence(const std::vector<Node>& sequence);

// Every text `node` can match when it matches exactly once and is a literal, a zero-width
// assertion or a group of such; nothing when there are more or it is anything else.
std::optional<Fragments> textsOfNode(const Node& node) {
    if (node.kind == Node::Kind::zeroWidth) return Fragments{std::string()};
    if (!node.required || !node.single) return std::nullopt;
    if (node.kind == Node::Kind::literal) return Fragments{node.literal};
    if (node.kind != Node::Kind::group) return std::nullopt;
    Fragments all;
    for (const auto& alternative : node.alternatives) {
        auto texts = textsOfSequence(alternative);
        if (!texts || all.size() + texts->size() > kMaximumTexts) return std::nullopt;
        all.insert(all.end(), texts->begin(), texts->end());
    }
    return all;
}

// Each text of `head` followed by each of `tail`, or nothing when that is too many or too long.
std::optional<Fragments> concatenated(const Fragments& head, const Fragments& tail) {
    if (head.size() * tail.size() > kMaximumTexts) return std::nullopt;
    Fragments texts;
    for (const auto& first : head) {
        for (const auto& second : tail) {
            if (first.size() + second.size() > kMaximumTextLength) return std::nullopt;
            texts.push_back(first + second);
        }
    }
    return texts;
}

// Appends a literal matched exactly once to each of `texts` in place, when none grows too long: the
// commonest case, spared the copies of concatenated().
bool appendLiteral(Fragments& texts, const Node& node) {
    if (node.kind != Node::Kind::literal || !node.required || !node.single) return false;
    if (std::any_of(texts.begin(), texts.end(), [&node](const std::string& text) {
            return text.size() + node.literal.size() > kMaximumTextLength;
        })) {
        return false;
    }
    for (auto& text : texts)
        text += node.literal;
    return true;
}

std::optional<Fragments> textsOfSequence(const std::vector<Node>& sequence) {
    Fragments texts{std::string()};
    for (const auto& node : sequence) {
        if (appendLiteral(texts, node)) continue;
        auto nodeTexts = textsOfNode(node);
        if (!nodeTexts) return std::nullopt;
        auto longer = concatenated(texts, *nodeTexts);
        if (!longer) return std::nullopt;
        texts = std::move(*longer);
    }
    return texts;
}

// A text holds one of `texts` exactly when it holds one of those that contain no other: those are
// kept. Nothing is left when one of them is empty, which every text holds.
Fragments shortestForm(Fragments texts) {
    std::sort(texts.begin(), texts.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    Fragments kept;
    for (auto& text : texts) {
        if (text.empty()) return {};
        if (std::none_of(kept.begin(), kept.end(),
                         [&text](const std::string& shorter) { return text.find(shorter) != std::string::npos; })) {
            kept.push_back(std::move(text));
        }
    }
    return kept;
}

// Every fragment set found in a sequence is necessary on its own: each stretch of nodes whose exact
// texts are known (literals, and groups of them, as in "(?:x|twitter)\.com") gives the set of its
// texts, and each other required literal or group gives its own.
std::vector<Fragments> candidatesOfSequence(const std::vector<Node>& sequence) {
    std::vector<Fragments> candidates;
    Fragments run{std::string()};
    auto flush = [&run, &candidates] {
        if (auto texts = shortestForm(std::move(run)); !texts.empty()) candidates.push_back(std::move(texts));
        run.assign(1, std::string());
    };
    for (const auto& node : sequence) {
        if (appendLiteral(run, node)) continue;
        if (auto texts = textsOfNode(node)) {
            if (auto longer = concatenated(run, *texts)) {
                run = std::move(*longer);
                continue;
            }
            // Too many texts together: the stretch so far counts on its own, and a new one starts.
            flush();
            if (auto alone = concatenated(run, *texts)) {
                run = std::move(*alone);
                continue;
            }
        }
        flush();
        if (node.kind == Node::Kind::literal && node.required) {
            candidates.push_back({node.literal});
        } else if (node.kind == Node::Kind::group && node.required) {
            if (auto inner = necessaryOfAlternatives(node.alternatives)) candidates.push_back(std::move(*inner));
        }
    }
    flush();
    std::stable_sort(candidates.begin(), candidates.end(), moreSelective);
    return candidates;
}

std::optional<Fragments> necessaryOfAlternatives(const std::vector<std::vector<Node>>& alternatives) {
    Fragments all;
    for (const auto& alternative : alternatives) {
        auto candidates = candidatesOfSequence(alternative);
        if (candidates.empty()) return std::nullopt;
        all.insert(all.end(), candidates.front().begin(), candidates.front().end());
    }
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

}  // namespace

RulePrefilter RulePrefilter::fromPattern(std::string_view pattern) {
    return fromPattern(pattern, false);
}

RulePrefilter RulePrefilter::fromPattern(std::string_view pattern, bool caseInsensitiveOption) {
    RulePrefilter filter;
    bool caseInsensitive = caseInsensitiveOption;
    PatternReader reader(pattern);
    const auto alternatives = reader.read(caseInsensitive);
    if (!alternatives) return filter;
    // One top-level sequence: all of its fragment sets must be met (the few most selective are
    // enough). Several alternatives: one set, a fragment of any alternative.
    std::vector<Fragments> requirements;
    if (alternatives->size() == 1) {
        requirements = candidatesOfSequence(alternatives->front());
        if (requirements.size() > kMaximumRequirements) requirements.resize(kMaximumRequirements);
    } else if (auto any = necessaryOfAlternatives(*alternatives)) {
        requirements.push_back(std::move(*any));
    }
    for (auto& fragments : requirements) {
        if (!caseInsensitive) continue;
        for (auto& fragment : fragments) {
            // Case-insensitive matching of non-ASCII letters is beyond a byte comparison.
            if (std::any_of(fragment.begin(), fragment.end(), [](char c) { return (c & 0x80) != 0; })) return filter;
            fragment = foldForMatching(fragment);
        }
        std::sort(fragments.begin(), fragments.end());
        fragments.erase(std::unique(fragments.begin(), fragments.end()), fragments.end());
    }
    filter.requirements_ = std::move(requirements);
    filter.caseInsensitive_ = caseInsensitive;
    return filter;
}

bool RulePrefilter::mayMatch(std::string_view text, std::string_view foldedText) const {
    const std::string_view haystack = caseInsensitive_ ? foldedText : text;
    return std::all_of(requirements_.begin(), requirements_.end(), [haystack](const std::vector<std::string>& any) {
        return std::any_of(any.begin(), any.end(), [haystack](const std::string& fragment) {
            return haystack.find(fragment) != std::string_view::npos;
        });
    });
}

std::string RulePrefilter::foldForMatching(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
        } else if (text.compare(i, 2, "\xC5\xBF") == 0) {  // U+017F LATIN SMALL LETTER LONG S
            out += 's';
            i += 1;
        } else if (text.compare(i, 3, "\xE2\x84\xAA") == 0) {  // U+212A KELVIN SIGN
            out += 'k';
            i += 2;
        } else if (text.compare(i, 2, "\xC4\xB0") == 0) {  // U+0130 LATIN CAPITAL LETTER I WITH DOT ABOVE
            out += 'i';
            i += 1;
        } else {
            out += c;
        }
    }
    return out;
}

void RulePrefilter::foldFullyInto(std::string_view text, std::string& out) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX));
    out.reserve(out.size() + text.size());
    std::int32_t i = 0;
    while (i < length) {
        // Links are almost all ASCII: a run of it is lower-cased in one go.
        std::int32_t run = i;
        while (run < length && bytes[run] < 0x80)
            ++run;
        if (run > i) {
            const std::size_t at = out.size();
            out.resize(at + static_cast<std::size_t>(run - i));
            char* into = out.data() + at;
            for (std::int32_t k = i; k < run; ++k) {
                const std::uint8_t byte = bytes[k];
                *into++ = static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte | 0x20 : byte);
            }
            i = run;
            continue;
        }
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
            continue;
        }
        UChar source[2];
        std::int32_t sourceLength = 0;
        U16_APPEND_UNSAFE(source, sourceLength, c);
        UChar folded[8];
        UErrorCode status = U_ZERO_ERROR;
        const std::int32_t foldedLength = u_strFoldCase(folded, 8, source, sourceLength, U_FOLD_CASE_DEFAULT, &status);
        if (U_FAILURE(status) || foldedLength > 8) {
            out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
            continue;
        }
        for (std::int32_t j = 0; j < foldedLength;) {
            UChar32 f = 0;
            U16_NEXT(folded, j, foldedLength, f);
            appendUtf8(out, static_cast<std::uint32_t>(f));
        }
    }
}

}  // namespace tessaril
