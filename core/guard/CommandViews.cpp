// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandViews.h"

#include "core/guard/PayloadDecoding.h"

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

// The length of the line continuation at `i` (a backslash or a backquote, then LF or CR LF), or 0.
std::size_t continuationLength(std::string_view text, std::size_t i) {
    if (text[i] != '\\' && text[i] != '`') return 0;
    if (text.compare(i + 1, 2, "\r\n") == 0) return 3;
    return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 0;
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

// Whether `text`, less its trailing blanks, ends with the option that hands a shell its script
// (`-c`, PowerShell's `-Command` or a prefix of it, cmd's `/c` and `/k`): the script's first word
// starts a statement, quoted or not.
bool endsWithScriptOption(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1]))
        --end;
    std::size_t begin = end;
    while (begin > 0 && end - begin < 9 && !isBlank(text[begin - 1]))
        --begin;
    if (begin > 0 && !isBlank(text[begin - 1])) return false;
    std::string word(text.substr(begin, end - begin));
    for (char& c : word)
        c = isLetter(c) ? static_cast<char>(c | 0x20) : c;
    return word == "/c" || word == "/k" ||
           (word.size() >= 2 && std::string_view("-command").substr(0, word.size()) == word);
}

// Quoted strings joined by `+` (PowerShell's concatenation) become one quoted string. The
// quoted script of a shell's `-c` is walked into, since its own strings are joined when it runs.
std::string concatenationsJoined(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool quoted = (c == '\'' || c == '"') && !endsWithScriptOption(out);
        const std::size_t close = quoted ? closingQuote(text, i, text.size()) : npos;
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
// The statement may end at the end of its line: scripts set one variable a line.
std::optional<Value> powerShellValue(std::string_view text, std::size_t i) {
    if (i >= text.size() || (text[i] != '\'' && text[i] != '"')) return std::nullopt;
    const std::size_t close = closingQuote(text, i, text.size());
    std::size_t after = close == npos ? npos : close + 1;
    while (after < text.size() && (text[after] == ' ' || text[after] == '\t' || text[after] == '\r'))
        ++after;
    if (after == npos || (after < text.size() && std::string_view(";\n)}").find(text[after]) == npos)) {
        return std::nullopt;
    }
    return Value{close + 1, std::string(text.substr(i, close - i + 1))};
}

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return lower;
}

struct Assignment {
    std::size_t end;
    std::string name;
    std::string value;
};

// cmd's `set name=value` or `set "name=value"` at `i`; cmd's names ignore case, so the name is kept
// in small letters. The value runs to the command's end, blanks included, as cmd keeps them.
std::optional<Assignment> cmdAssignment(std::string_view text, std::size_t i) {
    if (text.size() - i < 4 || lowerAscii(text.substr(i, 3)) != "set" || !isBlank(text[i + 3])) return std::nullopt;
    std::size_t begin = skipBlanks(text, i + 3);
    const bool quoted = begin < text.size() && text[begin] == '"';
    begin += quoted ? 1 : 0;
    std::size_t equals = begin;
    while (equals < text.size() && isNameCharacter(text[equals]))
        ++equals;
    if (equals == begin || equals >= text.size() || text[equals] != '=') return std::nullopt;
    std::size_t end = equals + 1;
    while (end < text.size() && (quoted ? text[end] != '"' : std::string_view("&|\n\r").find(text[end]) == npos))
        ++end;
    Assignment assignment{end, lowerAscii(text.substr(begin, equals - begin)),
                          std::string(text.substr(equals + 1, end - equals - 1))};
    assignment.end += quoted && end < text.size() ? 1 : 0;
    return assignment;
}

// The word of a default-value expansion (`${a:-cu}`, `${a-cu}`, `${a:=cu}`, `${a=cu}`) whose name
// ends at `i`, when the word is plain text; `assigns` for the forms that also set the variable.
struct DefaultExpansion {
    std::size_t end;
    std::string text;
    bool assigns;
};

std::optional<DefaultExpansion> defaultExpansion(std::string_view text, std::size_t i) {
    const std::size_t sign = i < text.size() && text[i] == ':' ? i + 1 : i;
    if (sign >= text.size() || (text[sign] != '-' && text[sign] != '=')) return std::nullopt;
    const std::size_t close = text.find('}', sign + 1);
    if (close == npos || close - sign > 64) return std::nullopt;
    const std::string_view word = text.substr(sign + 1, close - sign - 1);
    if (!std::all_of(word.begin(), word.end(), isGlue)) return std::nullopt;
    return DefaultExpansion{close + 1, std::string(word), text[sign] == '='};
}

// The length of the system directory (`/usr/bin/`, `C:\Windows\System32\`) that a command's name at
// `i` is given with, or 0: a shell finds the same program by its bare name.
std::size_t systemDirectoryLength(std::string_view text, std::size_t i) {
    static constexpr std::array<std::string_view, 10> kDirectories = {
        "/usr/local/bin/",
        "/usr/bin/",
        "/usr/sbin/",
        "/bin/",
        "/sbin/",
        "/opt/homebrew/bin/",
        "c:\\windows\\system32\\",
        "c:\\windows\\syswow64\\",
        "%systemroot%\\system32\\",
        "%windir%\\system32\\",
    };
    for (const std::string_view directory : kDirectories) {
        const std::size_t end = i + directory.size();
        if (end < text.size() && isLetter(text[end]) && lowerAscii(text.substr(i, directory.size())) == directory) {
            return directory.size();
        }
    }
    return 0;
}

// A shell alias definition (`alias g=curl`, `alias g='curl -s'`) at `i`.
std::optional<Assignment> aliasDefinition(std::string_view text, std::size_t i) {
    if (text.compare(i, 6, "alias ") != 0) return std::nullopt;
    const std::size_t begin = skipBlanks(text, i + 6);
    std::size_t equals = begin;
    while (equals < text.size() && (isNameCharacter(text[equals]) || text[equals] == '-'))
        ++equals;
    if (equals == begin || equals >= text.size() || text[equals] != '=') return std::nullopt;
    auto value = shellValue(text, equals + 1);
    return Assignment{value.end, std::string(text.substr(begin, equals - begin)), std::move(value.text)};
}

// The word at `i` when it is the name of a known alias, used as a command.
std::optional<Value> aliasUse(std::string_view text, std::size_t i,
                              const std::map<std::string, std::string, std::less<>>& aliases) {
    std::size_t end = i;
    while (end < text.size() && (isNameCharacter(text[end]) || text[end] == '-'))
        ++end;
    if (end < text.size() && !isBlank(text[end]) && std::string_view(";&|)").find(text[end]) == npos) {
        return std::nullopt;
    }
    const auto known = aliases.find(text.substr(i, end - i));
    if (known == aliases.end()) return std::nullopt;
    return Value{end, known->second};
}

// A brace expansion standing as a command (`{curl,-fsSL,x}`, `{bash,}`), which bash turns into the
// command's words, as those words.
std::optional<Value> braceCommand(std::string_view text, std::size_t i) {
    if (text[i] != '{') return std::nullopt;
    const std::size_t close = text.find('}', i + 1);
    if (close == npos || close - i > 1024) return std::nullopt;
    const std::string_view inside = text.substr(i + 1, close - i - 1);
    if (inside.find(',') == npos || std::any_of(inside.begin(), inside.end(), [](char c) {
            return isBlank(c) || c == '{' || c == ';' || c == '&' || c == '|';
        })) {
        return std::nullopt;
    }
    Value words{close + 1, {}};
    for (std::size_t start = 0; start <= inside.size();) {
        const std::size_t comma = std::min(inside.find(',', start), inside.size());
        if (comma > start) {
            if (!words.text.empty()) words.text += ' ';
            words.text.append(inside.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return words;
}

// The length of a shell word that declares the variables after it (`export`, `declare -x`, `local`,
// `readonly`, `typeset`), with its options and the blanks after them, at `i`; 0 when there is none.
std::size_t declarationLength(std::string_view text, std::size_t i) {
    static constexpr std::array<std::string_view, 5> kWords = {"export", "declare", "local", "readonly", "typeset"};
    for (const std::string_view word : kWords) {
        if (text.compare(i, word.size(), word) != 0 || i + word.size() >= text.size() ||
            !isBlank(text[i + word.size()])) {
            continue;
        }
        std::size_t end = skipBlanks(text, i + word.size());
        while (end < text.size() && text[end] == '-') {
            while (end < text.size() && !isBlank(text[end]))
                ++end;
            end = skipBlanks(text, end);
        }
        return end - i;
    }
    return 0;
}

// Shell (`a=cu`), PowerShell (`$a = 'i'`) and cmd (`set a=cu`) assignments at the start of a
// statement, substituted into the later uses of the variable (`$a`, `${a}`, `%a%`), and the defaults
// of expansions whose variable has no value (`${a:-cu}`); aliases substituted where they are used as
// commands, and the system directories of commands' names dropped.
std::string assignmentsSubstituted(std::string_view text, std::size_t maximumBytes) {
    std::map<std::string, std::string, std::less<>> values;
    std::map<std::string, std::string, std::less<>> aliases;
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
            // PowerShell's environment variables (`$env:x`) are assigned and used like its own.
            if (end - begin == 3 && lowerAscii(text.substr(begin, 3)) == "env" && end + 1 < text.size() &&
                text[end] == ':' && isNameCharacter(text[end + 1])) {
                for (++end; end < text.size() && isNameCharacter(text[end]);)
                    ++end;
            }
            const std::string_view name = text.substr(begin, end - begin);
            if (braced && !name.empty()) {
                if (auto expansion = defaultExpansion(text, end)) {
                    // ${a:-cu}: the variable's value when it has one, else the word after the sign.
                    const auto known = values.find(name);
                    const bool set = known != values.end() && !known->second.empty();
                    if (!set && expansion->assigns) values.insert_or_assign(std::string(name), expansion->text);
                    out += set ? known->second : expansion->text;
                    i = expansion->end - 1;
                    statementStarts = false;
                    continue;
                }
            }
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
                // `s${x}h`: a variable nothing set, inside a word, only splits the word for the eye.
                if (braced && !out.empty() && isLetter(out.back()) && end + 1 < text.size() &&
                    isLetter(text[end + 1])) {
                    i = end;
                    continue;
                }
            }
            // `c$@url`: without arguments these expand to nothing.
            if ((text[i + 1] == '@' || text[i + 1] == '*') && !out.empty() && isLetter(out.back()) &&
                i + 2 < text.size() && isLetter(text[i + 2])) {
                ++i;
                continue;
            }
        }
        if (c == '%') {
            std::size_t end = i + 1;
            while (end < text.size() && end - i <= 64 && isNameCharacter(text[end]))
                ++end;
            if (end > i + 1 && end < text.size() && text[end] == '%') {
                if (const auto known = values.find(lowerAscii(text.substr(i + 1, end - i - 1)));
                    known != values.end()) {
                    out += known->second;
                    i = end;
                    statementStarts = false;
                    continue;
                }
            }
        }
        if (statementStarts && (c == 's' || c == 'S')) {
            if (auto assignment = cmdAssignment(text, i)) {
                values.insert_or_assign(std::move(assignment->name), std::move(assignment->value));
                out.append(text.substr(i, assignment->end - i));
                i = assignment->end - 1;
                statementStarts = false;
                continue;
            }
        }
        if (statementStarts) {
            if (const std::size_t length = systemDirectoryLength(text, i); length > 0) {
                i += length - 1;
                continue;
            }
            if (auto alias = aliasDefinition(text, i)) {
                aliases.insert_or_assign(std::move(alias->name), std::move(alias->value));
                out.append(text.substr(i, alias->end - i));
                i = alias->end - 1;
                statementStarts = false;
                continue;
            }
            if (auto braces = braceCommand(text, i)) {
                out += braces->text;
                i = braces->end - 1;
                statementStarts = false;
                continue;
            }
            if (auto use = aliasUse(text, i, aliases)) {
                out += use->text;
                i = use->end - 1;
                statementStarts = false;
                continue;
            }
        }
        if (statementStarts) {
            // `export a=cu`, `declare -x a=cu`: the assignments after these words are made as well.
            if (const std::size_t length = declarationLength(text, i); length > 0) {
                out.append(text.substr(i, length));
                i += length - 1;
                continue;
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
        } else if (isBlank(c) || c == '"' || c == '\'') {
            statementStarts = statementStarts || endsWithScriptOption(out);
        } else {
            statementStarts = false;
        }
        out += c;
    }
    cutToBoundary(out, maximumBytes);
    return out;
}

// Whether unquotedWords may change `text`: it only takes out quotes, escapes and line continuations.
bool mayChangeWords(std::string_view text) {
    return text.find_first_of("'\"\\^`") != npos;
}

// Whether foldedAssignments may change `text` beyond unquotedWords: variables are used through `$`
// and `%`, aliases are defined with "alias", and the system directories it drops end in "bin/" (those
// of Windows hold a backslash, which mayChangeWords already looks for).
bool mayFold(std::string_view text) {
    if (text.find_first_of("$%") != npos || text.find("alias") != npos) return true;
    if (const std::size_t brace = text.find('{'); brace != npos && text.find(',', brace) != npos) return true;
    for (std::size_t slash = text.find('/', 3); slash != npos; slash = text.find('/', slash + 1)) {
        if (lowerAscii(text.substr(slash - 3, 3)) == "bin") return true;
    }
    return false;
}

}  // namespace

std::string unquotedWords(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // The closing quote of the quoted string being walked through, whose quotes stay.
    std::size_t keptClose = npos;
    bool singleQuoted = false;
    const bool backslashEscapes = text.find(":\\") == npos && text.find("\\\\") == npos;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == keptClose) {
            out += c;
            keptClose = npos;
            singleQuoted = false;
            continue;
        }
        if (const std::size_t length = continuationLength(text, i); length > 0) {
            // A POSIX shell deletes a backslash and the line break after it, outside single quotes,
            // so inside a word (`cu\<LF>rl`) it joins the pieces. Elsewhere, and for PowerShell's
            // backquote, it is a blank, as the command was joined.
            const bool joinsWord = c == '\\' && backslashEscapes && !singleQuoted && !out.empty() &&
                                   !isBlank(out.back()) && i + length < text.size() && !isBlank(text[i + length]);
            if (!joinsWord) out += ' ';
            i += length - 1;
            continue;
        }
        const bool beforeLetter = i + 1 < text.size() && isLetter(text[i + 1]);
        if (((c == '\\' && backslashEscapes) || c == '^' || c == '`') && beforeLetter) continue;
        if (c == '\\' && backslashEscapes && i + 1 < text.size() && i + 1 != keptClose) {
            out.append(text.substr(i, 2));
            ++i;
            continue;
        }
        const std::size_t close =
            c == '\'' || c == '"' ? closingQuote(text, i, keptClose == npos ? text.size() : keptClose) : npos;
        if (close == npos) {
            // A quote left without its partner between two letters (`b'a's'h`) hides a word the
            // same way a pair does; the shell would ask for more text and glue it on, so the word
            // is read as it would run once completed.
            const bool strayInWord = (c == '\'' || c == '"') && beforeLetter && !out.empty() && isLetter(out.back());
            if (!strayInWord) out += c;
            continue;
        }
        const std::string_view inside = text.substr(i + 1, close - i - 1);
        if (std::all_of(inside.begin(), inside.end(), isGlue)) {
            out.append(inside);
            i = close;
        } else if (keptClose == npos) {
            out += c;
            keptClose = close;
            singleQuoted = c == '\'';
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

std::vector<CommandView> derive(std::string_view command, std::string_view pasted, std::size_t maximumBytes) {
    std::vector<CommandView> views;
    std::size_t budget = maximumBytes;
    const auto add = [&](std::string text, std::string origin) {
        if (views.size() >= maximumViews || budget == 0) return;
        cutToBoundary(text, budget);
        if (text.empty() || text == command) return;
        if (std::any_of(views.begin(), views.end(), [&](const CommandView& view) { return view.text == text; })) return;
        budget -= text.size();
        views.push_back({std::move(text), std::move(origin)});
    };
    // Payloads first, since they hide the most, breadth first; then each text's words unquoted and
    // assignments folded.
    using Decoder = std::string (*)(std::string_view);
    constexpr std::array<std::pair<std::string_view, Decoder>, 7> kDecoders = {{
        {"base64", payload_decoding::base64},
        {"hex", payload_decoding::hex},
        {"octal", payload_decoding::octal},
        {"character-codes", payload_decoding::characterCodes},
        {"rot13", payload_decoding::rot13},
        {"reversed", payload_decoding::reversed},
        {"string-operations", payload_decoding::stringOperations},
    }};
    std::vector<std::pair<std::string, std::string>> sources = {{std::string(command), std::string()}};
    for (std::size_t begin = 0, depth = 0; depth < maximumDecodingDepth; ++depth) {
        const std::size_t end = sources.size();
        for (std::size_t source = begin; source < end; ++source) {
            for (const auto& [name, decode] : kDecoders) {
                std::string payload = decode(sources[source].first);
                if (payload.empty() || payload.size() > budget) continue;
                std::string origin = sources[source].second.empty() ? std::string(name)
                                                                    : sources[source].second + "/" + std::string(name);
                add(payload, origin);
                sources.emplace_back(std::move(payload), std::move(origin));
            }
        }
        begin = end;
    }
    // The command's words are read from the text as pasted, whose line continuations a shell
    // treats in its own way.
    sources.front().first = pasted;
    for (const auto& [text, origin] : sources) {
        if (views.size() >= maximumViews || budget == 0) break;
        const std::string prefix = origin.empty() ? std::string() : origin + "/";
        // A text without anything they act on comes out of both as it went in (at most cut short),
        // which is the command or a view already made: most pastes are spared both passes.
        if (!mayChangeWords(text) && !mayFold(text)) continue;
        add(unquotedWords(text), prefix + "unquoted");
        add(foldedAssignments(text, budget), prefix + "folded");
    }
    return views;
}

std::string description(std::string_view origin) {
    std::string text;
    for (std::size_t start = 0; start <= origin.size();) {
        const std::size_t end = std::min(origin.find('/', start), origin.size());
        const std::string_view step = origin.substr(start, end - start);
        if (!text.empty()) text += ", then ";
        if (step == "unquoted") {
            text += "with quotes and escapes taken out of its words";
        } else if (step == "folded") {
            text += "with its variables and joined strings filled in";
        } else if (step == "character-codes") {
            text += "decoded from character codes";
        } else if (step == "reversed") {
            text += "with its reversed strings turned around";
        } else if (step == "string-operations") {
            text += "with its string replacements and formats worked out";
        } else {
            text += "decoded from ";
            text += step;
        }
        start = end + 1;
    }
    return text;
}

}  // namespace tessaril::command_views
