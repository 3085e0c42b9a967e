// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Regex.h"

#include "core/foundation/LazyDfa.h"
#include "core/foundation/NfaBacktracker.h"
#include "core/foundation/RegexNfa.h"
#include "core/foundation/Text.h"

#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <mutex>

namespace tessaril {

namespace {

void appendHexEscape(std::string& out, UChar32 c) {
    char digits[8] = {};
    const auto end = std::to_chars(digits, digits + sizeof digits, static_cast<unsigned>(c), 16).ptr;
    out += "\\x{";
    for (const char* digit = digits; digit != end; ++digit)
        out += static_cast<char>(*digit >= 'a' ? *digit - 'a' + 'A' : *digit);
    out += '}';
}

// ICU's compiled form of a pattern, or null when ICU rejects it.
std::shared_ptr<const icu::RegexPattern> compileWithICU(std::string_view pattern, bool caseInsensitive) {
    if (!text::isValidUtf8(pattern) || pattern.size() > static_cast<std::size_t>(INT32_MAX)) return nullptr;
    const icu::UnicodeString source =
        icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<std::int32_t>(pattern.size())));
    UParseError parseError{};
    UErrorCode status = U_ZERO_ERROR;
    std::shared_ptr<const icu::RegexPattern> compiled(
        icu::RegexPattern::compile(source, caseInsensitive ? UREGEX_CASE_INSENSITIVE : 0, parseError, status));
    if (U_FAILURE(status)) return nullptr;
    return compiled;
}

}  // namespace

struct Regex::Impl {
    std::string pattern;
    bool caseInsensitive = false;
    // Null until the first match when compilation was deferred (or for good, when it failed then).
    // Declared before the matcher: the matcher refers to the pattern and must die first.
    std::shared_ptr<const icu::RegexPattern> compiled;
    std::unique_ptr<icu::RegexMatcher> matcher;
    bool deferred = false;
    // Reused for every search so that opening the text over new bytes does not allocate.
    UText text = UTEXT_INITIALIZER;
    std::int32_t workLimit = 0;
    bool hitLimit = false;
    // The linear-time paths: the pattern's automaton, read on first use and shared by copies (null
    // when the pattern is outside what it supports), this object's own DFA cache over it for
    // search(), and the walk that finds capture groups for firstMatch() and replaceAll().
    std::shared_ptr<const RegexNfa> nfa;
    bool nfaRead = false;
    // For a pattern compile() has read but whose automaton is not built yet: the automaton once
    // built, shared by every copy (copies made before the first use included, on any thread). Made
    // by the first such copy: a rule load makes thousands of these Regexes, and copies few.
    struct SharedNfa {
        std::once_flag built;
        std::shared_ptr<const RegexNfa> nfa;
    };
    bool sharesNfa = false;
    std::shared_ptr<SharedNfa> sharedNfa;
    bool fastPathEnabled = true;
    std::unique_ptr<LazyDfa> dfa;
    std::unique_ptr<NfaBacktracker> backtracker;

    Impl(std::string patternText, bool insensitive, std::shared_ptr<const icu::RegexPattern> pattern,
         std::int32_t limit)
        : pattern(std::move(patternText)),
          caseInsensitive(insensitive),
          compiled(std::move(pattern)),
          deferred(!compiled),
          workLimit(limit) {
        if (compiled) makeMatcher();
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() {
        matcher.reset();
        utext_close(&text);
    }

    void makeMatcher() {
        UErrorCode status = U_ZERO_ERROR;
        matcher.reset(compiled->matcher(status));
        if (U_FAILURE(status)) {
            matcher.reset();
            return;
        }
        applyWorkLimit();
    }

    // Compiles a deferred pattern on first use; false when there is no matcher to use.
    bool ready() {
        if (deferred) {
            deferred = false;
            compiled = compileWithICU(pattern, caseInsensitive);
            if (compiled) makeMatcher();
        }
        return matcher != nullptr;
    }

    void applyWorkLimit() {
        if (!matcher) return;
        UErrorCode status = U_ZERO_ERROR;
        matcher->setTimeLimit(workLimit, status);
    }

    // Points the matcher at the UTF-16 copy of a prepared text.
    bool reset(const std::u16string& input) {
        hitLimit = false;
        if (!ready() || input.size() > static_cast<std::size_t>(INT32_MAX)) return false;
        UErrorCode status = U_ZERO_ERROR;
        utext_openUChars(&text, input.data(), static_cast<std::int64_t>(input.size()), &status);
        if (U_FAILURE(status)) return false;
        matcher->reset(&text);
        return true;
    }

    // Points the matcher at `input`; false when ICU cannot take it, in which case nothing matches.
    bool reset(std::string_view input) {
        hitLimit = false;
        if (!ready() || input.size() > static_cast<std::size_t>(INT32_MAX)) return false;
        UErrorCode status = U_ZERO_ERROR;
        // A null pointer with length 0 is fine for ICU, but keep it a real address for clarity.
        const char* data = input.empty() ? "" : input.data();
        utext_openUTF8(&text, data, static_cast<std::int64_t>(input.size()), &status);
        if (U_FAILURE(status)) return false;
        matcher->reset(&text);
        return true;
    }

    // The automaton, when the fast paths are on and the pattern has one.
    bool automaton() {
        if (!fastPathEnabled) return false;
        if (!nfaRead) {
            nfaRead = true;
            if (sharedNfa) {
                std::call_once(sharedNfa->built,
                               [this] { sharedNfa->nfa = RegexNfa::parse(pattern, caseInsensitive); });
                nfa = sharedNfa->nfa;
            } else {
                nfa = RegexNfa::parse(pattern, caseInsensitive);
            }
        }
        return nfa != nullptr;
    }

    // search()'s answer without ICU, when the lazy DFA can give it (see LazyDfa.h for when).
    std::optional<bool> fastSearch(std::string_view input) {
        if (input.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
        if (!dfa) {
            if (!automaton()) return std::nullopt;
            dfa = std::make_unique<LazyDfa>(nfa);
        }
        return dfa->search(input);
    }

    // The walk that finds ICU's matches in `input` without ICU, when it can (see NfaBacktracker.h).
    const NfaBacktracker* fastMatcher(std::string_view input) {
        if (!backtracker) {
            if (!automaton()) return nullptr;
            backtracker = std::make_unique<NfaBacktracker>(nfa);
        }
        if (!backtracker->answers(input)) return nullptr;
        hitLimit = false;
        return backtracker.get();
    }

    // The next match, or false when there is none or ICU gave up (work limit, stack limit).
    bool find(std::optional<std::size_t> from = std::nullopt) {
        UErrorCode status = U_ZERO_ERROR;
        const bool found =
            from && *from > 0 ? matcher->find(static_cast<std::int64_t>(*from), status) : matcher->find(status);
        if (status == U_REGEX_TIME_OUT || status == U_REGEX_STACK_OVERFLOW) hitLimit = true;
        return found && U_SUCCESS(status);
    }

    // A group's range in native indices (bytes of a UTF-8 text, units of a UTF-16 one), each passed
    // through `toByte` and clamped, so that a caller slicing the text can never run past it,
    // whatever ICU made of malformed bytes.
    template <typename ToByte>
    std::optional<TextRange> range(std::int32_t group, std::size_t textSize, ToByte toByte) const {
        UErrorCode status = U_ZERO_ERROR;
        const std::int64_t begin = matcher->start64(group, status);
        const std::int64_t end = matcher->end64(group, status);
        if (U_FAILURE(status) || begin < 0 || end < 0) return std::nullopt;
        const auto b = std::min(toByte(begin), textSize);
        const auto e = std::clamp(toByte(end), b, textSize);
        return TextRange{b, e};
    }
    std::optional<TextRange> range(std::int32_t group, std::size_t textSize) const {
        return range(group, textSize, [](std::int64_t index) { return static_cast<std::size_t>(index); });
    }

    // The match ICU has just found, its ranges mapped to bytes by `toByte`.
    template <typename ToByte>
    std::optional<RegexMatch> match(std::size_t textSize, std::size_t groups, ToByte toByte) const {
        auto whole = range(0, textSize, toByte);
        if (!whole) return std::nullopt;
        RegexMatch found;
        found.whole = *whole;
        found.groups.reserve(groups);
        for (std::size_t g = 1; g <= groups; ++g)
            found.groups.push_back(range(static_cast<std::int32_t>(g), textSize, toByte));
        return found;
    }
};

SearchText::SearchText(std::string_view utf8) : utf8_(utf8) {
    // Longer texts get no copy; ICU cannot take them either way.
    if (utf8.size() > static_cast<std::size_t>(INT32_MAX)) return;
    searchable_ = true;
    utf16_.resize(utf8.size());
    std::size_t ascii = 0;
    while (ascii < utf8.size() && static_cast<unsigned char>(utf8[ascii]) < 0x80) {
        utf16_[ascii] = static_cast<char16_t>(utf8[ascii]);
        ++ascii;
    }
    if (ascii == utf8.size()) return;
    // Past the first non-ASCII byte, units and bytes part: each unit records where its character
    // begins.
    utf16_.resize(ascii);
    byteOffsets_.reserve(utf8.size() + 1);
    for (std::size_t i = 0; i < ascii; ++i)
        byteOffsets_.push_back(static_cast<std::uint32_t>(i));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const auto length = static_cast<std::int32_t>(utf8.size());
    for (auto i = static_cast<std::int32_t>(ascii); i < length;) {
        const auto start = static_cast<std::uint32_t>(i);
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) c = 0xFFFD;
        if (c > 0xFFFF) {
            utf16_ += static_cast<char16_t>(U16_LEAD(c));
            byteOffsets_.push_back(start);
            c = U16_TRAIL(c);
        }
        utf16_ += static_cast<char16_t>(c);
        byteOffsets_.push_back(start);
    }
    byteOffsets_.push_back(static_cast<std::uint32_t>(utf8.size()));
}

Regex::Regex(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Regex::Regex(const Regex& other)
    : impl_(other.impl_ ? std::make_unique<Impl>(other.impl_->pattern, other.impl_->caseInsensitive,
                                                 other.impl_->compiled, other.impl_->workLimit)
                        : nullptr) {
    if (!impl_) return;
    // A copy of a pattern that later failed to compile must not try again as if deferred.
    if (!other.impl_->deferred && !other.impl_->compiled) impl_->deferred = false;
    impl_->nfa = other.impl_->nfa;
    impl_->nfaRead = other.impl_->nfaRead;
    impl_->sharesNfa = other.impl_->sharesNfa;
    if (other.impl_->sharesNfa && !other.impl_->nfaRead && !other.impl_->sharedNfa)
        other.impl_->sharedNfa = std::make_shared<Impl::SharedNfa>();
    impl_->sharedNfa = other.impl_->sharedNfa;
    impl_->fastPathEnabled = other.impl_->fastPathEnabled;
}

Regex& Regex::operator=(const Regex& other) {
    if (this != &other) *this = Regex(other);
    return *this;
}

Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;
Regex::~Regex() = default;

std::optional<Regex> Regex::compile(std::string_view pattern, bool caseInsensitive) {
    // A pattern the automaton reads is one ICU accepts (the regex fuzzer holds the two to that), so
    // ICU compiles it only once a text needs ICU, which for most patterns is never: loading a rule
    // file then costs a fraction of what it did.
    // The automaton itself is built on first use too: a rule file holds hundreds of patterns, and
    // cleaning one link uses a handful.
    if (RegexNfa::reads(pattern, caseInsensitive)) {
        auto impl = std::make_unique<Impl>(std::string(pattern), caseInsensitive, nullptr, 0);
        impl->sharesNfa = true;
        return Regex(std::move(impl));
    }
    auto compiled = compileWithICU(pattern, caseInsensitive);
    if (!compiled) return std::nullopt;
    auto impl = std::make_unique<Impl>(std::string(pattern), caseInsensitive, std::move(compiled), 0);
    if (!impl->matcher) return std::nullopt;
    return Regex(std::move(impl));
}

Regex Regex::deferred(std::string pattern, bool caseInsensitive) {
    auto impl = std::make_unique<Impl>(std::move(pattern), caseInsensitive, nullptr, 0);
    impl->sharesNfa = true;
    return Regex(std::move(impl));
}

std::string Regex::escape(std::string_view literal) {
    std::string out;
    out.reserve(literal.size() * 2);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(literal.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(literal.size(), INT32_MAX));
    std::int32_t i = 0;
    while (i < length) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            // Malformed bytes are read as U+FFFD when matching, so that is what the pattern must say.
            appendHexEscape(out, 0xFFFD);
        } else if (c < 0x80 && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
            out += static_cast<char>(c);
        } else if (c > 0x20 && c < 0x7F) {
            // A backslash before any ASCII punctuation quotes it, whether or not it is special today.
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x80 || u_hasBinaryProperty(c, UCHAR_PATTERN_WHITE_SPACE)) {
            // Controls and spaces by number, so the pattern survives free-spacing mode and logs.
            appendHexEscape(out, c);
        } else {
            out.append(literal.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
        }
    }
    return out;
}

const std::string& Regex::pattern() const {
    static const std::string empty;
    return impl_ ? impl_->pattern : empty;
}

std::size_t Regex::captureGroupCount() const {
    if (!impl_) return 0;
    // The automaton numbers groups as ICU does; without the fast paths, ICU answers everything.
    if (impl_->automaton()) return impl_->nfa->captureCount();
    if (!impl_->ready()) return 0;
    return static_cast<std::size_t>(std::max(impl_->matcher->groupCount(), 0));
}

bool Regex::search(std::string_view text) const {
    if (!impl_) return false;
    if (const auto answer = impl_->fastSearch(text)) {
        impl_->hitLimit = false;
        return *answer;
    }
    if (!impl_->reset(text)) return false;
    return impl_->find();
}

std::optional<RegexMatch> Regex::firstMatch(std::string_view text) const {
    if (!impl_) return std::nullopt;
    if (const auto* fast = impl_->fastMatcher(text)) return fast->find(text, 0);
    if (!impl_->reset(text) || !impl_->find()) return std::nullopt;
    return impl_->match(text.size(), captureGroupCount(),
                        [](std::int64_t index) { return static_cast<std::size_t>(index); });
}

std::optional<RegexMatch> Regex::firstMatch(const SearchText& text, std::size_t from) const {
    if (!impl_) return std::nullopt;
    const std::string_view utf8 = text.utf8();
    if (from > utf8.size()) return std::nullopt;
    if (const auto* fast = impl_->fastMatcher(utf8)) return fast->find(utf8, from);
    const auto& offsets = text.byteOffsets_;
    // The first UTF-16 unit whose character starts at or after `from`.
    const auto unit =
        offsets.empty()
            ? from
            : static_cast<std::size_t>(std::lower_bound(offsets.begin(), offsets.end(), from) - offsets.begin());
    if (!text.searchable_ || !impl_->reset(text.utf16_) || !impl_->find(unit)) return std::nullopt;
    return impl_->match(utf8.size(), captureGroupCount(), [&offsets](std::int64_t index) {
        const auto unit = static_cast<std::size_t>(index);
        return offsets.empty() ? unit : static_cast<std::size_t>(offsets[std::min(unit, offsets.size() - 1)]);
    });
}

namespace {

// `text` with each range `next()` returns, until it returns none, replaced by `replacement`.
template <typename NextMatch>
std::string replaceEach(std::string_view text, std::string_view replacement, NextMatch next) {
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (auto range = next(); range && range->begin >= copied; range = next()) {
        out.append(text.substr(copied, range->begin - copied));
        out.append(replacement);
        copied = range->end;
    }
    out.append(text.substr(copied));
    return out;
}

}  // namespace

std::string Regex::replaceAll(std::string_view text, std::string_view replacement) const {
    if (!impl_) return std::string(text);
    if (const auto* fast = impl_->fastMatcher(text)) {
        // As ICU goes on from a match: at its end, or one character further after an empty match.
        std::size_t from = 0;
        return replaceEach(text, replacement, [&]() -> std::optional<TextRange> {
            if (from > text.size()) return std::nullopt;
            auto match = fast->find(text, from);
            if (!match) return std::nullopt;
            from = match->whole.end + (match->whole.begin == match->whole.end ? 1 : 0);
            return match->whole;
        });
    }
    if (!impl_->reset(text)) return std::string(text);
    // Matches found before the work limit ran out stay replaced; the rest of the text is kept as is.
    return replaceEach(text, replacement, [&]() -> std::optional<TextRange> {
        return impl_->find() ? impl_->range(0, text.size()) : std::nullopt;
    });
}

bool Regex::lastMatchHitLimit() const {
    return impl_ && impl_->hitLimit;
}

void Regex::setFastPathEnabled(bool enabled) {
    if (!impl_) return;
    impl_->fastPathEnabled = enabled;
    if (!enabled) {
        impl_->dfa.reset();
        impl_->backtracker.reset();
    }
}

void Regex::setWorkLimit(std::int32_t steps) {
    if (!impl_) return;
    impl_->workLimit = std::max(steps, 0);
    impl_->applyWorkLimit();
}

}  // namespace tessaril
