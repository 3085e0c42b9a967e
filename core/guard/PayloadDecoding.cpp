// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/PayloadDecoding.h"

#include "core/foundation/Text.h"

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tessaril::payload_decoding {

namespace {

constexpr auto npos = std::string_view::npos;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr std::array<std::int8_t, 256> kBase64Values = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return values;
}();

bool isBase64Character(char c) {
    return kBase64Values[static_cast<unsigned char>(c)] >= 0;
}

// The bytes of a run of base64 characters; a last incomplete group gives the bytes it holds whole.
std::string base64Bytes(std::string_view run) {
    std::string bytes;
    bytes.reserve(run.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int held = 0;
    for (const char c : run) {
        bits = (bits << 6U) | static_cast<std::uint32_t>(kBase64Values[static_cast<unsigned char>(c)]);
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes += static_cast<char>((bits >> static_cast<unsigned>(held)) & 0xFFU);
        }
    }
    return bytes;
}

// UTF-16LE when most high bytes are zero, as in the encoded commands PowerShell takes; else the bytes.
std::string payloadText(std::string bytes) {
    const std::size_t units = bytes.size() / 2;
    std::size_t zeroHighBytes = 0;
    for (std::size_t i = 1; i < bytes.size(); i += 2)
        zeroHighBytes += bytes[i] == '\0' ? 1 : 0;
    if (units == 0 || zeroHighBytes * 4 < units * 3) return bytes;
    std::string text;
    text.reserve(units);
    const auto unit = [&](std::size_t i) {
        return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8U));
    };
    for (std::size_t i = 0; i < units; ++i) {
        UChar32 c = unit(i);
        if (U16_IS_LEAD(c) && i + 1 < units && U16_IS_TRAIL(unit(i + 1))) {
            c = U16_GET_SUPPLEMENTARY(c, unit(i + 1));
            ++i;
        } else if (U16_IS_SURROGATE(c)) {
            c = 0xFFFD;
        }
        std::array<std::uint8_t, 4> encoded{};
        std::int32_t length = 0;
        U8_APPEND_UNSAFE(encoded.data(), length, c);
        text.append(reinterpret_cast<const char*>(encoded.data()), static_cast<std::size_t>(length));
    }
    return text;
}

// Text rather than binary: valid UTF-8, and control characters other than blanks at most one in twenty.
bool isMostlyPrintable(std::string_view text) {
    if (text.empty() || !text::isValidUtf8(text)) return false;
    const auto controls = std::count_if(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && !isBlank(c)) || byte == 0x7F;
    });
    return static_cast<std::size_t>(controls) * 20 <= text.size() && text.find('\0') == npos;
}

// Appends a decoded payload as a line of its own when it is text.
void addPayload(std::string& payloads, std::string_view payload) {
    const std::string_view trimmed = text::trim(payload);
    if (!isMostlyPrintable(trimmed)) return;
    if (!payloads.empty()) payloads += '\n';
    payloads.append(trimmed);
}

// Calls `decode(run)` for each maximal run of characters `isMember` accepts that is at least
// `minimum` long.
template <typename IsMember, typename Decode>
void forEachRun(std::string_view text, std::size_t minimum, IsMember isMember, Decode decode) {
    for (std::size_t i = 0; i < text.size();) {
        if (!isMember(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && isMember(text[end]))
            ++end;
        if (end - i >= minimum) decode(text.substr(i, end - i));
        i = end;
    }
}

// One decoded byte and the index of the escape's last character.
struct Escape {
    char byte;
    std::size_t last;
};

// `text` with each backslash escape that `read` decodes replaced by its byte; empty when there are
// fewer than four, too few to be a payload.
template <typename Read>
std::string escapesReplaced(std::string_view text, Read read) {
    std::string out;
    out.reserve(text.size());
    std::size_t escapes = 0;
    // The text between backslashes is copied as a whole: a long paste has few of them.
    for (std::size_t copied = 0, i = text.find('\\'); copied < text.size(); i = text.find('\\', i + 1)) {
        if (i == npos) {
            out.append(text.substr(copied));
            break;
        }
        if (const std::optional<Escape> escape = read(text, i)) {
            out.append(text.substr(copied, i - copied));
            out += escape->byte;
            i = escape->last;
            copied = i + 1;
            ++escapes;
        }
    }
    return escapes >= 4 ? out : std::string();
}

std::string hexEscapesReplaced(std::string_view text) {
    return escapesReplaced(text, [](std::string_view t, std::size_t i) -> std::optional<Escape> {
        if (i + 3 < t.size() && (t[i + 1] == 'x' || t[i + 1] == 'X') && hexValue(t[i + 2]) >= 0 &&
            hexValue(t[i + 3]) >= 0)
            return Escape{static_cast<char>(hexValue(t[i + 2]) * 16 + hexValue(t[i + 3])), i + 3};
        return std::nullopt;
    });
}

bool isOctalDigit(char c) {
    return c >= '0' && c <= '7';
}

std::string octalEscapesReplaced(std::string_view text) {
    return escapesReplaced(text, [](std::string_view t, std::size_t i) -> std::optional<Escape> {
        // echo -e and printf %b take a leading zero and up to three digits after it.
        const std::size_t digits = i + 4 < t.size() && t[i + 1] == '0' && isOctalDigit(t[i + 2]) &&
                                           isOctalDigit(t[i + 3]) && isOctalDigit(t[i + 4])
                                       ? i + 2
                                       : i + 1;
        if (digits + 2 < t.size() && isOctalDigit(t[digits]) && isOctalDigit(t[digits + 1]) &&
            isOctalDigit(t[digits + 2]) && t[digits] <= '3')
            return Escape{static_cast<char>((t[digits] - '0') * 64 + (t[digits + 1] - '0') * 8 + (t[digits + 2] - '0')),
                          digits + 2};
        return std::nullopt;
    });
}

// A character code at `i`: decimal or 0x-hex digits, of a printable ASCII character or a blank.
std::optional<char> characterCode(std::string_view text, std::size_t& i) {
    const bool hexDigits = text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0;
    std::size_t end = i + (hexDigits ? 2 : 0);
    int value = 0;
    for (; end < text.size() && end - i < 6; ++end) {
        const int digit = hexDigits ? hexValue(text[end]) : (isDigit(text[end]) ? text[end] - '0' : -1);
        if (digit < 0) break;
        value = value * (hexDigits ? 16 : 10) + digit;
    }
    if (end == i + (hexDigits ? 2 : 0) || (end < text.size() && isDigit(text[end]))) return std::nullopt;
    if (value > 126 || (value < 32 && !isBlank(static_cast<char>(value)))) return std::nullopt;
    i = end;
    return static_cast<char>(value);
}

// Skips what may stand between two character codes: punctuation and blanks of a list or a sum, and
// the names that turn a number into a character. Returns false at anything else.
bool skipCodeSeparator(std::string_view text, std::size_t& i) {
    constexpr std::array<std::string_view, 3> kNames = {"[char]", "char", "chr"};
    const std::size_t start = i;
    while (i < text.size() && i - start < 24) {
        if (std::string_view(" \t,+()[];.@").find(text[i]) != npos) {
            ++i;
            continue;
        }
        const auto name = std::find_if(kNames.begin(), kNames.end(), [&](std::string_view candidate) {
            return text.size() - i >= candidate.size() &&
                   std::equal(candidate.begin(), candidate.end(), text.begin() + static_cast<std::ptrdiff_t>(i),
                              [](char a, char b) { return a == (b | (b >= 'A' && b <= 'Z' ? 0x20 : 0)); });
        });
        if (name == kNames.end()) break;
        i += name->size();
    }
    return i < text.size() && isDigit(text[i]);
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `text` holds `word` at `i`, regardless of ASCII case.
bool hasWordAt(std::string_view text, std::size_t i, std::string_view word) {
    return text.size() - std::min(i, text.size()) >= word.size() &&
           std::equal(word.begin(), word.end(), text.begin() + static_cast<std::ptrdiff_t>(i),
                      [](char a, char b) { return a == lowerAscii(b); });
}

// Whether `text` holds one of `markers` (in small letters) anywhere, regardless of ASCII case.
template <std::size_t N>
bool holdsMarker(std::string_view text, const std::array<std::string_view, N>& markers) {
    // Every view of a long text is asked for every marker: a table of first letters lets most bytes
    // pass with one look.
    std::array<bool, 256> starts{};
    for (const std::string_view marker : markers)
        starts[static_cast<unsigned char>(marker[0])] = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!starts[static_cast<unsigned char>(lowerAscii(text[i]))]) continue;
        for (const std::string_view marker : markers) {
            if (hasWordAt(text, i, marker)) return true;
        }
    }
    return false;
}

std::size_t skipBlanks(std::string_view text, std::size_t i) {
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i;
}

// A quoted string at `i` and the index after its closing quote; PowerShell doubles a quote to put
// it inside. Nothing when there is no closing quote.
struct Quoted {
    std::string text;
    std::size_t end;
};

std::optional<Quoted> quotedAt(std::string_view text, std::size_t i) {
    if (i >= text.size() || (text[i] != '\'' && text[i] != '"')) return std::nullopt;
    const char quote = text[i];
    Quoted quoted{{}, npos};
    for (std::size_t j = i + 1; j < text.size(); ++j) {
        if (text[j] != quote) {
            quoted.text += text[j];
            continue;
        }
        if (j + 1 < text.size() && text[j + 1] == quote) {
            quoted.text += quote;
            ++j;
            continue;
        }
        quoted.end = j + 1;
        return quoted;
    }
    return std::nullopt;
}

// Copies `text` into `out`, handing each quoted string and where it starts to `rewrite`, which
// appends what stands for it and answers where copying goes on, or nothing to copy only the opening
// quote and read the strings inside it. Without its closing quote the rest is one string that is not
// finished: it is copied as it stands.
template <typename Rewrite>
void rewriteQuotedStrings(std::string_view text, std::string& out, Rewrite rewrite) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto quoted = quotedAt(text, i);
        if (!quoted) {
            if (text[i] == '\'' || text[i] == '"') {
                out.append(text.substr(i));
                return;
            }
            out += text[i];
            continue;
        }
        const std::optional<std::size_t> end = rewrite(std::move(*quoted), i);
        if (end)
            i = *end - 1;
        else
            out += text[i];
    }
}

// `text` quoted again, with a quote it does not hold.
std::string requoted(std::string_view text) {
    const char quote = text.find('\'') == npos ? '\'' : '"';
    std::string out(1, quote);
    out.append(text);
    out += quote;
    return out;
}

std::string replacedAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    std::size_t copied = 0;
    for (std::size_t at = text.find(from); at != npos; at = text.find(from, copied)) {
        out.append(text.substr(copied, at - copied));
        out.append(to);
        copied = at + from.size();
    }
    out.append(text.substr(copied));
    return out;
}

// The arguments of `('a','b')` or `'a','b'` at `i`: up to `most` quoted strings separated by commas.
std::vector<std::string> quotedArguments(std::string_view text, std::size_t& i, std::size_t most) {
    std::vector<std::string> arguments;
    std::size_t at = skipBlanks(text, i);
    const bool parenthesized = at < text.size() && text[at] == '(';
    at = skipBlanks(text, at + (parenthesized ? 1 : 0));
    while (arguments.size() < most) {
        auto argument = quotedAt(text, at);
        if (!argument) break;
        arguments.push_back(std::move(argument->text));
        at = skipBlanks(text, argument->end);
        if (at >= text.size() || text[at] != ',') break;
        at = skipBlanks(text, at + 1);
    }
    if (parenthesized) {
        if (at >= text.size() || text[at] != ')') return {};
        ++at;
    }
    i = at;
    return arguments;
}

// .NET's composite format: `{0}`, `{1,5}`, `{2:x}` replaced by that argument, `{{` and `}}` by a brace.
std::string formatted(std::string_view format, const std::vector<std::string>& arguments) {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if ((c == '{' || c == '}') && i + 1 < format.size() && format[i + 1] == c) {
            out += c;
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        std::size_t index = 0;
        while (c == '{' && end < format.size() && end - i < 4 && isDigit(format[end]))
            index = index * 10 + static_cast<std::size_t>(format[end++] - '0');
        const std::size_t close = c == '{' && end > i + 1 ? format.find('}', end) : npos;
        if (close == npos || close - end > 16 || index >= arguments.size()) {
            out += c;
            continue;
        }
        out += arguments[index];
        i = close;
    }
    return out;
}

// The most string operations worked out in one text, and by how much they may lengthen it: a
// replacement that doubles a string at every step must not make the work grow without bound.
constexpr std::size_t maximumStringOperations = 256;
constexpr std::size_t stringGrowthAllowance = 4096;

}  // namespace

std::string base64(std::string_view text) {
    std::string payloads;
    forEachRun(text, minimumBase64Run, isBase64Character,
               [&](std::string_view run) { addPayload(payloads, payloadText(base64Bytes(run))); });
    return payloads;
}

std::string hex(std::string_view text) {
    std::string payloads;
    addPayload(payloads, hexEscapesReplaced(text));
    forEachRun(
        text, minimumHexRun, [](char c) { return hexValue(c) >= 0; },
        [&](std::string_view run) {
            std::string bytes;
            for (std::size_t i = 0; i + 1 < run.size(); i += 2)
                bytes += static_cast<char>(hexValue(run[i]) * 16 + hexValue(run[i + 1]));
            addPayload(payloads, bytes);
        });
    return payloads;
}

std::string octal(std::string_view text) {
    std::string payloads;
    addPayload(payloads, octalEscapesReplaced(text));
    return payloads;
}

std::string characterCodes(std::string_view text) {
    std::string payloads;
    for (std::size_t i = 0; i < text.size();) {
        // A code starts a run only where a number starts.
        if (!isDigit(text[i]) || (i > 0 && (isDigit(text[i - 1]) || hexValue(text[i - 1]) >= 0 || text[i - 1] == '_' ||
                                            text[i - 1] == 'x'))) {
            ++i;
            continue;
        }
        std::string decoded;
        std::size_t position = i;
        while (const auto code = characterCode(text, position)) {
            decoded += *code;
            if (!skipCodeSeparator(text, position)) break;
        }
        if (decoded.size() >= minimumCharacterCodes) addPayload(payloads, decoded);
        i = std::max(position, i + 1);
    }
    return payloads;
}

std::string rot13(std::string_view text) {
    // tr's two sets in either order of case, and the codec's names.
    constexpr std::array<std::string_view, 4> kMarkers = {"n-za-m", "rot13", "rot_13", "rot-13"};
    if (!holdsMarker(text, kMarkers)) return {};
    std::string shifted(text);
    for (char& c : shifted) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>('a' + (c - 'a' + 13) % 26);
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>('A' + (c - 'A' + 13) % 26);
    }
    std::string payloads;
    addPayload(payloads, shifted);
    return payloads;
}

std::string reversed(std::string_view text) {
    constexpr std::array<std::string_view, 10> kMarkers = {"[-1..-", "::reverse(", "[::-1]", "strrev(", "| rev",
                                                           "|rev",   ".reverse()", "..0]",   "rev <<<", "rev<<<"};
    if (!holdsMarker(text, kMarkers)) return {};
    std::string out;
    out.reserve(text.size());
    std::size_t strings = 0;
    rewriteQuotedStrings(text, out, [&](Quoted quoted, std::size_t start) -> std::optional<std::size_t> {
        // A string that holds strings of its own is a script: those inside are the ones turned.
        if (quoted.text.find_first_of("'\"") != npos) return std::nullopt;
        const bool ascii = std::all_of(quoted.text.begin(), quoted.text.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (quoted.text.size() >= 6 && ascii) {
            out += requoted(std::string(quoted.text.rbegin(), quoted.text.rend()));
            ++strings;
        } else {
            out.append(text.substr(start, quoted.end - start));
        }
        return quoted.end;
    });
    std::string payloads;
    if (strings > 0) addPayload(payloads, out);
    return payloads;
}

std::string stringOperations(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t operations = 0;
    bool tooLong = false;
    rewriteQuotedStrings(text, out, [&](Quoted quoted, std::size_t start) -> std::optional<std::size_t> {
        std::string value = std::move(quoted.text);
        std::size_t end = quoted.end;
        const std::size_t before = operations;
        while (operations < maximumStringOperations) {
            std::size_t at = skipBlanks(text, end);
            std::vector<std::string> arguments;
            if (hasWordAt(text, at, ".replace(")) {
                at += 8;  // to the parenthesis, which quotedArguments takes
                arguments = quotedArguments(text, at, 2);
                if (arguments.size() != 2 || arguments[0].empty()) break;
            } else if (hasWordAt(text, at, "-replace") || hasWordAt(text, at, "-ireplace") ||
                       hasWordAt(text, at, "-creplace")) {
                at = text.find_first_of(" \t", at);
                arguments = quotedArguments(text, at, 2);
                if (arguments.empty() || arguments[0].empty()) break;
                arguments.resize(2);
            } else if (hasWordAt(text, at, "-f ") || hasWordAt(text, at, "-f'") || hasWordAt(text, at, "-f\"") ||
                       hasWordAt(text, at, "-f(")) {
                at += 2;
                arguments = quotedArguments(text, at, 64);
                if (arguments.empty()) break;
                value = formatted(value, arguments);
                end = at;
                ++operations;
                continue;
            } else {
                break;
            }
            value = replacedAll(value, arguments[0], arguments[1]);
            end = at;
            ++operations;
            if (value.size() > text.size() + stringGrowthAllowance) {
                tooLong = true;
                return text.size();
            }
        }
        if (operations == before) {
            // Nothing is done to this string; when it holds strings, it is a script whose own may be.
            if (value.find_first_of("'\"") != npos) return std::nullopt;
            out.append(text.substr(start, end - start));
            return end;
        }
        out += requoted(value);
        if (out.size() > 2 * text.size() + stringGrowthAllowance) {
            tooLong = true;
            return text.size();
        }
        return end;
    });
    std::string payloads;
    if (operations > 0 && !tooLong) addPayload(payloads, out);
    return payloads;
}

}  // namespace tessaril::payload_decoding
