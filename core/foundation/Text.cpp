// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Text.h"

#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/idna.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

namespace tessaril::text {

namespace {

const std::uint8_t* bytesOf(std::string_view text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

// ICU indexes UTF-8 with int32_t; longer texts are not something a clipboard tool handles whole.
bool fitsIcu(std::string_view text) {
    return text.size() <= static_cast<std::size_t>(INT32_MAX);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A UTF-8 UText over borrowed bytes, closed on scope exit.
class Utf8Text {
public:
    explicit Utf8Text(std::string_view text) {
        UErrorCode status = U_ZERO_ERROR;
        utext_openUTF8(&text_, text.empty() ? "" : text.data(), static_cast<std::int64_t>(text.size()), &status);
        ok_ = U_SUCCESS(status);
    }
    Utf8Text(const Utf8Text&) = delete;
    Utf8Text& operator=(const Utf8Text&) = delete;
    ~Utf8Text() { utext_close(&text_); }

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] UText* get() { return &text_; }

private:
    UText text_ = UTEXT_INITIALIZER;
    bool ok_ = false;
};

icu::BreakIterator* newCharacterIterator() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> created(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_SUCCESS(status) ? created.release() : nullptr;
}

// Creating a character break iterator loads rules, so each thread keeps one and only re-points it.
icu::BreakIterator* characterBreaks(std::string_view text, Utf8Text& utext) {
    thread_local const std::unique_ptr<icu::BreakIterator> iterator(newCharacterIterator());
    if (!iterator || !utext.ok() || !fitsIcu(text)) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    iterator->setText(utext.get(), status);
    if (U_FAILURE(status)) return nullptr;
    // The analyser models the thread_local's destructor as running on this path; it runs at thread exit.
    return iterator.get();  // NOLINT(clang-analyzer-cplusplus.NewDelete)
}

bool formatsInvisibly(UChar32 c) {
    return c == 0x061C || c == 0x200B || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

void appendEscape(std::string& out, char kind, std::uint32_t value, int digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '\\';
    out += kind;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kHex[(value >> static_cast<unsigned>(shift)) & 0xFU];
}

}  // namespace

std::string escapedForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = bytesOf(text);
    std::size_t i = 0;
    while (i < text.size()) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F) {
            out += text[i++];
            continue;
        }
        // A sequence is at most four bytes, so a window of four keeps ICU's 32-bit offsets small.
        const auto window = static_cast<std::int32_t>(std::min<std::size_t>(text.size() - i, 4));
        std::int32_t length = 0;
        UChar32 c = 0;
        U8_NEXT(bytes + i, length, window, c);
        if (c < 0) {
            for (std::int32_t k = 0; k < length; ++k)
                appendEscape(out, 'x', bytes[i + static_cast<std::size_t>(k)], 2);
        } else if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            appendEscape(out, 'x', static_cast<std::uint32_t>(c), 2);
        } else if (formatsInvisibly(c)) {
            appendEscape(out, 'u', static_cast<std::uint32_t>(c), 4);
        } else {
            out.append(text.substr(i, static_cast<std::size_t>(length)));
        }
        i += static_cast<std::size_t>(length);
    }
    return out;
}

std::string_view trim(std::string_view text) {
    if (!fitsIcu(text)) return text;
    const auto* bytes = bytesOf(text);
    const auto length = static_cast<std::int32_t>(text.size());
    // ASCII's white space is tab to carriage return and the space; ICU is asked about the rest.
    const auto asciiSpace = [](std::uint8_t byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); };
    std::int32_t begin = 0;
    while (begin < length) {
        if (bytes[begin] < 0x80) {
            if (!asciiSpace(bytes[begin])) break;
            ++begin;
            continue;
        }
        std::int32_t next = begin;
        UChar32 c = 0;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        begin = next;
    }
    std::int32_t end = length;
    while (end > begin) {
        if (bytes[end - 1] < 0x80) {
            if (!asciiSpace(bytes[end - 1])) break;
            --end;
            continue;
        }
        std::int32_t previous = end;
        UChar32 c = 0;
        U8_PREV(bytes, begin, previous, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

std::string toLower(std::string_view text) {
    // In ASCII the root locale maps A-Z to a-z and nothing else: no need to go through ICU.
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; });
    if (ascii || !fitsIcu(text)) return asciiLower(text);
    std::string out;
    out.reserve(text.size());
    icu::StringByteSink<std::string> sink(&out);
    UErrorCode status = U_ZERO_ERROR;
    // The root locale ("") keeps results the same for every user: no Turkish or Lithuanian rules.
    icu::CaseMap::utf8ToLower("", 0, icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())), sink,
                              nullptr, status);
    if (U_FAILURE(status)) return asciiLower(text);
    return out;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::optional<std::string> hostNameToASCII(std::string_view name) {
    if (!fitsIcu(name)) return std::nullopt;
    // One instance for the process: ICU's IDNA objects are immutable and safe to share.
    static const std::unique_ptr<const icu::IDNA> idna = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<const icu::IDNA> created(icu::IDNA::createUTS46Instance(
            UIDNA_USE_STD3_RULES | UIDNA_CHECK_BIDI | UIDNA_CHECK_CONTEXTJ | UIDNA_NONTRANSITIONAL_TO_ASCII, status));
        return U_SUCCESS(status) ? std::move(created) : nullptr;
    }();
    if (!idna) return std::nullopt;
    std::string out;
    icu::StringByteSink<std::string> sink(&out);
    icu::IDNAInfo info;
    UErrorCode status = U_ZERO_ERROR;
    idna->nameToASCII_UTF8(icu::StringPiece(name.data(), static_cast<std::int32_t>(name.size())), sink, info, status);
    if (U_FAILURE(status) || info.hasErrors()) return std::nullopt;
    return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        // Runs without escapes are copied whole: decoded redirect targets are long and mostly plain.
        const std::size_t escape = std::min(text.find('%', i), text.size());
        out.append(text.substr(i, escape - i));
        if (escape == text.size()) break;
        if (escape + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[escape + 1]);
        const int low = hexValue(text[escape + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>((high << 4) | low);
        i = escape + 3;
    }
    if (!isValidUtf8(out)) return std::nullopt;
    return out;
}

std::string_view percentDecodedView(std::string_view text, std::string& scratch) {
    if (text.find('%') == std::string_view::npos) return text;
    auto decoded = percentDecode(text);
    if (!decoded) return text;
    scratch = std::move(*decoded);
    return scratch;
}

std::string percentEncode(std::string_view text, std::string_view kept) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    const auto unreserved = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
               c == '_' || c == '~';
    };
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (unreserved(c) ||
            (static_cast<unsigned char>(c) < 0x80 && c != '%' && kept.find(c) != std::string_view::npos)) {
            out += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        out += '%';
        out += kHexDigits[byte >> 4U];
        out += kHexDigits[byte & 15U];
    }
    return out;
}

std::vector<std::string_view> nonEmptyPieces(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::size_t asciiRunEnd(std::string_view text, std::size_t from) {
    std::size_t i = from;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + i, sizeof word);
        if ((word & 0x8080808080808080ULL) != 0) break;
    }
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80)
        ++i;
    return i;
}

bool isValidUtf8(std::string_view text) {
    if (!fitsIcu(text)) return false;
    const auto* bytes = bytesOf(text);
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 0;
    while (i < length) {
        if (bytes[i] < 0x80) {
            i = static_cast<std::int32_t>(asciiRunEnd(text, static_cast<std::size_t>(i)));
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::size_t graphemeCount(std::string_view text) {
    if (text.empty()) return 0;
    Utf8Text utext(text);
    icu::BreakIterator* breaks = characterBreaks(text, utext);
    if (!breaks) return text.size();
    std::size_t count = 0;
    breaks->first();
    while (breaks->next() != icu::BreakIterator::DONE)
        ++count;
    return count;
}

std::string_view graphemePrefix(std::string_view text, std::size_t maxClusters) {
    if (maxClusters == 0 || text.empty()) return text.substr(0, 0);
    Utf8Text utext(text);
    icu::BreakIterator* breaks = characterBreaks(text, utext);
    // Without ICU's rules no cut is known to be safe; an empty prefix never splits anything.
    if (!breaks) return text.substr(0, 0);
    std::int32_t end = breaks->first();
    for (std::size_t n = 0; n < maxClusters; ++n) {
        const std::int32_t next = breaks->next();
        if (next == icu::BreakIterator::DONE) break;
        end = next;
    }
    return text.substr(0, std::min(static_cast<std::size_t>(std::max(end, 0)), text.size()));
}

}  // namespace tessaril::text
