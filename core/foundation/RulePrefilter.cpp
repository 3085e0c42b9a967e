// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/RulePrefilter.h"

#include "core/foundation/PatternSyntax.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

namespace tessaril {

namespace {

using Fragments = std::vector<std::string>;

// The least selective requirements are kept too: a one-byte separator ("&&", ";", a line feed) is
// what tells a command that downloads and then runs something from a plain download piped to a
// shell, and leaving it out sent every such one-liner through the costliest searches for nothing.
// Each one costs the guard's screen a bit test per text.
constexpr std::size_t kMaximumRequirements = 6;

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

// Bounds on the exact texts worked out for a stretch of a pattern, beyond which it is not worth it.
constexpr std::size_t kMaximumTexts = 16;
constexpr std::size_t kMaximumTextLength = 64;

std::size_t shortest(const Fragments& fragments) {
    std::size_t length = SIZE_MAX;
    for (const auto& fragment : fragments)
        length = std::min(length, fragment.size());
    return length;
}

// Whether `candidate` narrows texts down more than `best`: a longer shortest fragment, then fewer fragments.
bool moreSelective(const Fragments& candidate, const Fragments& best) {
    return shortest(candidate) > shortest(best) ||
           (shortest(candidate) == shortest(best) && candidate.size() < best.size());
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

// The fragments a pattern's tree requires. Only what decides "which literal text must occur" counts:
// a literal, a group (of any kind), an assertion or look-around (which consumes nothing), and
// anything else, which matches some text that is not known here.
class FragmentReader {
public:
    explicit FragmentReader(const PatternSyntax& syntax) : syntax_(syntax) {}

    // Every fragment set found in a branch is necessary on its own: each stretch of items whose
    // exact texts are known (literals, and groups of them, as in "(?:x|twitter)\.com") gives the
    // set of its texts, and each other required literal or group gives its own.
    std::vector<Fragments> candidatesOfBranch(std::int32_t branch) const {
        std::vector<Fragments> candidates;
        Fragments run{std::string()};
        auto flush = [&run, &candidates] {
            // A stretch with nothing known yet is the commonest case, and it gives no set.
            if (run.size() == 1 && run.front().empty()) return;
            if (auto texts = shortestForm(std::move(run)); !texts.empty()) candidates.push_back(std::move(texts));
            run.assign(1, std::string());
        };
        for (auto item = syntax_.node(branch).child; item >= 0; item = syntax_.node(item).next) {
            const Part part = partOf(item);
            if (appendLiteral(run, part)) continue;
            if (auto texts = textsOf(part)) {
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
            if (part.type == Type::literal && part.required) {
                candidates.push_back({part.literal});
            } else if (part.type == Type::group && part.required) {
                if (auto inner = necessaryOfAlternatives(item)) candidates.push_back(std::move(*inner));
            }
        }
        flush();
        std::stable_sort(candidates.begin(), candidates.end(), moreSelective);
        return candidates;
    }

    // A fragment of the most selective set of each branch of `holder`.
    std::optional<Fragments> necessaryOfAlternatives(std::int32_t holder) const {
        Fragments all;
        for (auto branch = syntax_.node(holder).child; branch >= 0; branch = syntax_.node(branch).next) {
            auto candidates = candidatesOfBranch(branch);
            if (candidates.empty()) return std::nullopt;
            all.insert(all.end(), candidates.front().begin(), candidates.front().end());
        }
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        return all;
    }

private:
    enum class Type : std::uint8_t { literal, group, zeroWidth, other };
    struct Part {
        Type type = Type::other;
        std::string literal;  // UTF-8
        std::int32_t node = -1;
        bool required = true;  // repeated at least once
        bool single = true;    // exactly once
    };

    Part partOf(std::int32_t index) const {
        const auto& node = syntax_.node(index);
        Part part;
        part.node = index;
        part.required = node.min >= 1;
        part.single = node.min == 1 && node.max == 1;
        switch (node.kind) {
            case PatternSyntax::Kind::literal:
                part.type = Type::literal;
                appendUtf8(part.literal, node.value);
                break;
            case PatternSyntax::Kind::group:
                part.type = Type::group;
                break;
            case PatternSyntax::Kind::assertion:
            case PatternSyntax::Kind::lookaround:
                part.type = Type::zeroWidth;
                break;
            default:
                break;
        }
        return part;
    }

    // Every text `part` can match when it matches exactly once and is a literal, a zero-width
    // assertion or a group of such; nothing when there are more or it is anything else.
    std::optional<Fragments> textsOf(const Part& part) const {
        if (part.type == Type::zeroWidth) return Fragments{std::string()};
        if (!part.required || !part.single) return std::nullopt;
        if (part.type == Type::literal) return Fragments{part.literal};
        if (part.type != Type::group) return std::nullopt;
        Fragments all;
        for (auto branch = syntax_.node(part.node).child; branch >= 0; branch = syntax_.node(branch).next) {
            auto texts = textsOfBranch(branch);
            if (!texts || all.size() + texts->size() > kMaximumTexts) return std::nullopt;
            all.insert(all.end(), texts->begin(), texts->end());
        }
        return all;
    }

    std::optional<Fragments> textsOfBranch(std::int32_t branch) const {
        Fragments texts{std::string()};
        for (auto item = syntax_.node(branch).child; item >= 0; item = syntax_.node(item).next) {
            const Part part = partOf(item);
            if (appendLiteral(texts, part)) continue;
            auto partTexts = textsOf(part);
            if (!partTexts) return std::nullopt;
            auto longer = concatenated(texts, *partTexts);
            if (!longer) return std::nullopt;
            texts = std::move(*longer);
        }
        return texts;
    }

    // Appends a literal matched exactly once to each of `texts` in place, when none grows too long:
    // the commonest case, spared the copies of concatenated().
    static bool appendLiteral(Fragments& texts, const Part& part) {
        if (part.type != Type::literal || !part.required || !part.single) return false;
        if (std::any_of(texts.begin(), texts.end(), [&part](const std::string& text) {
                return text.size() + part.literal.size() > kMaximumTextLength;
            })) {
            return false;
        }
        for (auto& text : texts)
            text += part.literal;
        return true;
    }

    const PatternSyntax& syntax_;
};

}  // namespace

RulePrefilter RulePrefilter::fromPattern(std::string_view pattern) {
    return fromPattern(pattern, false);
}

RulePrefilter RulePrefilter::fromPattern(std::string_view pattern, bool caseInsensitiveOption) {
    RulePrefilter filter;
    // Whatever the reading does not know (an opaque node) might change what the rest means.
    const auto syntax = PatternSyntax::parse(pattern);
    if (!syntax || syntax->holds(PatternSyntax::Kind::opaque)) return filter;
    const bool caseInsensitive = caseInsensitiveOption || syntax->caseInsensitive();
    const FragmentReader reader(*syntax);
    // One top-level branch: all of its fragment sets must be met (up to kMaximumRequirements of
    // them, the most selective first). Several alternatives: one set, a fragment of any alternative.
    std::vector<Fragments> requirements;
    if (syntax->childCount(PatternSyntax::root) == 1) {
        requirements = reader.candidatesOfBranch(syntax->node(PatternSyntax::root).child);
        if (requirements.size() > kMaximumRequirements) requirements.resize(kMaximumRequirements);
    } else if (auto any = reader.necessaryOfAlternatives(PatternSyntax::root)) {
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
    // Written through a pointer and with the three letters looked for only at their lead bytes: the
    // guard folds every text it screens, pastes of 32 KB included.
    std::string out(text.size(), '\0');
    char* into = out.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        char folded = static_cast<char>(c >= 'A' && c <= 'Z' ? c | 0x20U : c);
        if (c == 0xC5 && text.compare(i, 2, "\xC5\xBF") == 0) {  // U+017F LATIN SMALL LETTER LONG S
            folded = 's';
            i += 1;
        } else if (c == 0xE2 && text.compare(i, 3, "\xE2\x84\xAA") == 0) {  // U+212A KELVIN SIGN
            folded = 'k';
            i += 2;
        } else if (c == 0xC4 && text.compare(i, 2, "\xC4\xB0") == 0) {  // U+0130 CAPITAL I WITH DOT ABOVE
            folded = 'i';
            i += 1;
        }
        *into++ = folded;
    }
    out.resize(static_cast<std::size_t>(into - out.data()));
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
