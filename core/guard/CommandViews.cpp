// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandViews.h"

#include "core/foundation/Text.h"

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

namespace tessaril::command_views {

namespace {

constexpr auto npos = std::string_view::npos;

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isNameCharacter(char c) {
    return isLetter(c) || isDigit(c) || c == '_';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Characters a quoted piece of a word may hold for its quotes to be mere glue: nothing a shell would
// split at, expand or treat as an operator.
bool isGlue(char c) {
    return isNameCharacter(c) || std::string_view("-./:=@%+,~").find(c) != npos;
}

bool isBase64Character(char c) {
    return isLetter(c) || isDigit(c) || c == '+' || c == '/';
}

// The quote that closes the one at `open`, before `limit`; a backslash escapes the next character in
// double quotes only.
std::size_t closingQuote(std::string_view text, std::size_t open, std::size_t limit) {
    const char quote = text[open];
    for (std::size_t i = open + 1; i < limit; ++i) {
        if (text[i] == quote) return i;
        if (quote == '"' && text[i] == '\\') ++i;
    }
    return npos;
}

std::size_t skipBlanks(std::string_view text, std::size_t i) {
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i;
}

// Cuts a text to at most `maximumBytes` without splitting a UTF-8 sequence.
void cutToBoundary(std::string& text, std::size_t maximumBytes) {
    if (text.size() <= maximumBytes) return;
    std::size_t end = maximumBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U)
        --end;
    text.resize(end);
}

// Quoted strings joined by `+` (PowerShell's concatenation) become one quoted string.
std::string concatenationsJoined(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const std::size_t close = c == '\'' || c == '"' ? closingQuote(text, i, text.size()) : npos;
        if (close == npos) {
            out += c;
            continue;
        }
        std::string joined(text.substr(i + 1, close - i - 1));
        std::size_t end = close;
        for (;;) {
            const std::size_t plus = skipBlanks(text, end + 1);
            if (plus >= text.size() || text[plus] != '+') break;
            const std::size_t open = skipBlanks(text, plus + 1);
            if (open >= text.size() || (text[open] != '\'' && text[open] != '"')) break;
            const std::size_t next = closingQuote(text, open, text.size());
            if (next == npos) break;
            joined.append(text.substr(open + 1, next - open - 1));
            end = next;
        }
        const char quote = joined.find('\'') == npos ? '\'' : '"';
        if (end == close || joined.find(quote) != npos) {
            out.append(text.substr(i, end - i + 1));
        } else {
            out += quote;
            out += joined;
            out += quote;
        }
        i = end;
    }
    return out;
}

// Where an assignment's value ends, and the value as the variable holds it.
struct Value {
    std::size_t end;
    std::string text;
};

// A shell value: a quoted string without its quotes, or a bare run up to a blank or an operator.
Value shellValue(std::string_view text, std::size_t i) {
    if (i < text.size() && (text[i] == '\'' || text[i] == '"')) {
        const std::size_t close = closingQuote(text, i, text.size());
        if (close != npos) return {close + 1, std::string(text.substr(i + 1, close - i - 1))};
    }
    std::size_t end = i;
    while (end < text.size() && !isBlank(text[end]) && std::string_view(";&|()").find(text[end]) == npos)
        ++end;
    return {end, std::string(text.substr(i, end - i))};
}

// A PowerShell value that is one quoted string, kept with its quotes so that it joins a concatenation.
std::optional<Value> powerShellValue(std::string_view text, std::size_t i) {
    if (i >= text.size() || (text[i] != '\'' && text[i] != '"')) return std::nullopt;
    const std::size_t close = closingQuote(text, i, text.size());
    const std::size_t after = close == npos ? npos : skipBlanks(text, close + 1);
    if (after == npos || (after < text.size() && std::string_view(";\n)}").find(text[after]) == npos)) {
        return std::nullopt;
    }
    return Value{close + 1, std::string(text.substr(i, close - i + 1))};
}

// Shell (`a=cu`) and PowerShell (`$a = 'i'`) assignments at the start of a statement, substituted into
// the later uses of the variable (`$a`, `${a}`).
std::string assignmentsSubstituted(std::string_view text, std::size_t maximumBytes) {
    std::map<std::string, std::string, std::less<>> values;
    std::string out;
    out.reserve(text.size());
    bool statementStarts = true;
    for (std::size_t i = 0; i < text.size() && out.size() <= maximumBytes; ++i) {
        const char c = text[i];
        if (c == '$' && i + 1 < text.size()) {
            const bool braced = text[i + 1] == '{';
            const std::size_t begin = i + (braced ? 2 : 1);
            std::size_t end = begin;
            while (end < text.size() && isNameCharacter(text[end]))
                ++end;
            const std::string_view name = text.substr(begin, end - begin);
            const bool closed = !braced || (end < text.size() && text[end] == '}');
            if (!name.empty() && closed) {
                const std::size_t equals = skipBlanks(text, end);
                if (statementStarts && !braced && equals + 1 < text.size() && text[equals] == '=' &&
                    text[equals + 1] != '=') {
                    if (auto value = powerShellValue(text, skipBlanks(text, equals + 1))) {
                        values.insert_or_assign(std::string(name), std::move(value->text));
                        out.append(text.substr(i, value->end - i));
                        i = value->end - 1;
                        statementStarts = false;
                        continue;
                    }
                }
                if (const auto known = values.find(name); known != values.end()) {
                    out += known->second;
                    i = end - (braced ? 0 : 1);
                    statementStarts = false;
                    continue;
                }
            }
        }
        if (statementStarts && (isLetter(c) || c == '_')) {
            std::size_t end = i;
            while (end < text.size() && isNameCharacter(text[end]))
                ++end;
            if (end < text.size() && text[end] == '=') {
                auto value = shellValue(text, end + 1);
                values.insert_or_assign(std::string(text.substr(i, end - i)), std::move(value.text));
                out.append(text.substr(i, value.end - i));
                i = value.end - 1;
                continue;
            }
        }
        if (std::string_view(";&|\n({").find(c) != npos) {
            statementStarts = true;
        } else if (!isBlank(c)) {
            statementStarts = false;
        }
        out += c;
    }
    cutToBoundary(out, maximumBytes);
    return out;
}

constexpr std::array<std::int8_t, 256> kBase64Values = [] {
    std::array<std::int8_t, 256> values{};
    values.fill(-1);
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return values;
}();

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

}  // namespace

std::string unquotedWords(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // The closing quote of the quoted string being walked through, whose quotes stay.
    std::size_t keptClose = npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == keptClose) {
            out += c;
            keptClose = npos;
            continue;
        }
        const bool beforeLetter = i + 1 < text.size() && isLetter(text[i + 1]);
        if ((c == '\\' || c == '^' || c == '`') && beforeLetter) continue;
        if (c == '\\' && i + 1 < text.size() && i + 1 != keptClose) {
            out.append(text.substr(i, 2));
            ++i;
            continue;
        }
        const std::size_t close =
            c == '\'' || c == '"' ? closingQuote(text, i, keptClose == npos ? text.size() : keptClose) : npos;
        if (close == npos) {
            out += c;
            continue;
        }
        const std::string_view inside = text.substr(i + 1, close - i - 1);
        if (std::all_of(inside.begin(), inside.end(), isGlue)) {
            out.append(inside);
            i = close;
        } else if (keptClose == npos) {
            out += c;
            keptClose = close;
        } else {
            out.append(text.substr(i, close - i + 1));
            i = close;
        }
    }
    return out;
}

std::string foldedAssignments(std::string_view text, std::size_t maximumBytes) {
    std::string folded =
        unquotedWords(concatenationsJoined(assignmentsSubstituted(concatenationsJoined(text), maximumBytes)));
    cutToBoundary(folded, maximumBytes);
    return folded;
}

std::string decodedBase64(std::string_view text) {
    std::string payloads;
    for (std::size_t i = 0; i < text.size();) {
        if (!isBase64Character(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && isBase64Character(text[end]))
            ++end;
        if (end - i >= minimumBase64Run) {
            std::string payload = payloadText(base64Bytes(text.substr(i, end - i)));
            const std::string_view trimmed = text::trim(payload);
            if (isMostlyPrintable(trimmed)) {
                if (!payloads.empty()) payloads += '\n';
                payloads.append(trimmed);
            }
        }
        i = end;
    }
    return payloads;
}

std::vector<CommandView> derive(std::string_view command, std::size_t maximumBytes) {
    std::vector<CommandView> views;
    const auto add = [&](std::string text, std::string origin) {
        cutToBoundary(text, maximumBytes);
        if (views.size() >= maximumViews || text.empty() || text == command) return;
        if (std::any_of(views.begin(), views.end(), [&](const CommandView& view) { return view.text == text; })) return;
        views.push_back({std::move(text), std::move(origin)});
    };
    constexpr std::array<std::string_view, maximumDecodingDepth + 1> kDepths = {"", "decoded from base64",
                                                                                "decoded from base64 twice"};
    std::string decoded;
    std::string_view source = command;
    for (std::size_t depth = 0; depth < kDepths.size(); ++depth) {
        const std::string prefix = depth == 0 ? std::string() : std::string(kDepths[depth]) + ", ";
        if (depth > 0) {
            decoded = decodedBase64(source);
            if (decoded.empty()) break;
            add(decoded, std::string(kDepths[depth]));
            source = decoded;
        }
        add(unquotedWords(source), prefix + "command words unquoted");
        add(foldedAssignments(source, maximumBytes), prefix + "assignments folded");
    }
    return views;
}

}  // namespace tessaril::command_views
