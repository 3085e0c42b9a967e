// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/matching/SiteTailPattern.h"

#include <array>
#include <cstdint>

namespace tessaril {

namespace {

constexpr std::string_view kLazyPrefix = R"(^https?:\/\/(?:[a-z0-9-]+\.)*?)";
constexpr std::string_view kGreedyPrefix = R"(^https?:\/\/(?:[a-z0-9-]+\.)*)";
constexpr std::string_view kHostEnd = R"((?::\d+)?(?:[\/?#]|$))";
// A link is compared along every combination of alternatives that its text allows; rule files are
// outside text, so the combinations are bounded.
constexpr std::size_t kMostCombinations = 256;

constexpr bool isPrintable(char c) {
    return c >= 0x20 && c <= 0x7E;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool isAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// "[a-z0-9-]", case-insensitively, on ASCII.
constexpr auto kLabelCharacters = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] = isAlphanumeric(static_cast<char>(c)) || c == '-';
    return table;
}();

bool isLabelCharacter(char c) {
    return kLabelCharacters[static_cast<unsigned char>(c)];
}

const std::bitset<256>& notPrintable() {
    static const std::bitset<256> bytes = [] {
        std::bitset<256> set;
        for (std::size_t byte = 0; byte < set.size(); ++byte)
            set[byte] = !isPrintable(static_cast<char>(byte));
        return set;
    }();
    return bytes;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads one literal character at `at` (moving past it) into `out`: a letter, digit, '-' or '_', `.`
// for any character, or an escaped punctuation mark. False for anything else, and for a character
// a quantifier follows.
bool readLiteral(std::string_view pattern, std::size_t& at, std::string& out, char anyCharacter) {
    const char c = pattern[at];
    std::size_t next = at + 1;
    if (isAlphanumeric(c) || c == '-' || c == '_') {
        out += lower(c);
    } else if (c == '.') {
        out += anyCharacter;
    } else if (c == '\\' && next < pattern.size() && isPrintable(pattern[next]) && !isAlphanumeric(pattern[next]) &&
               pattern[next] != ' ') {
        out += pattern[next++];
    } else {
        return false;
    }
    if (next < pattern.size() && std::string_view("?*+{").find(pattern[next]) != std::string_view::npos) return false;
    at = next;
    return true;
}

// The length of "http://" or "https://" at the start of `text`, in any case; 0 when neither is
// there for certain, with `unknown` set when a character that is not printable ASCII may decide.
std::size_t schemeLength(std::string_view text, bool& unknown) {
    constexpr std::string_view https = "https://";
    if (text.starts_with(https)) return https.size();
    if (text.starts_with("http://")) return https.size() - 1;
    std::size_t at = 0;
    for (std::size_t i = 0; i < https.size(); ++i) {
        if (at >= text.size()) return 0;
        if (!isPrintable(text[at])) {
            unknown = true;
            return 0;
        }
        if (lower(text[at]) == https[i]) {
            ++at;
        } else if (i != 4) {  // only the "s" may be missing
            return 0;
        }
    }
    return at;
}

}  // namespace

std::optional<SiteTailPattern> SiteTailPattern::read(std::string_view pattern) {
    if (pattern.starts_with(kLazyPrefix)) {
        pattern.remove_prefix(kLazyPrefix.size());
    } else if (pattern.starts_with(kGreedyPrefix)) {
        pattern.remove_prefix(kGreedyPrefix.size());
    } else {
        return std::nullopt;
    }
    SiteTailPattern read;
    if (pattern.ends_with(kHostEnd)) {
        read.endsHost_ = true;
        pattern.remove_suffix(kHostEnd.size());
    }
    std::size_t at = 0;
    std::size_t combinations = 1;
    while (at < pattern.size()) {
        Segment& segment = read.segments_.emplace_back(1);
        if (pattern[at] != '(') {
            while (at < pattern.size() && pattern[at] != '(') {
                if (!readLiteral(pattern, at, segment.back(), kAnyCharacter)) return std::nullopt;
            }
            continue;
        }
        at += pattern.substr(at).starts_with("(?:") ? 3 : 1;
        while (true) {
            if (at >= pattern.size() || pattern[at] == '(') return std::nullopt;
            if (pattern[at] == '|') {
                segment.emplace_back();
                ++at;
            } else if (pattern[at] == ')') {
                ++at;
                break;
            } else if (!readLiteral(pattern, at, segment.back(), kAnyCharacter)) {
                return std::nullopt;
            }
        }
        if (at < pattern.size() && std::string_view("?*+{").find(pattern[at]) != std::string_view::npos)
            return std::nullopt;
        combinations *= segment.size();
        if (combinations > kMostCombinations) return std::nullopt;
    }
    read.firstBytes_ = notPrintable();
    if (read.segments_.empty()) read.firstBytes_.set();
    for (const std::string& literal : read.segments_.empty() ? Segment{} : read.segments_.front()) {
        if (literal.empty() || literal.front() == kAnyCharacter) {
            read.firstBytes_.set();
            break;
        }
        const char first = literal.front();
        read.firstBytes_.set(static_cast<unsigned char>(first));
        if (first >= 'a' && first <= 'z') read.firstBytes_.set(static_cast<unsigned char>(first - 'a' + 'A'));
    }
    return read;
}

void SiteTailPattern::Starts::find(std::string_view text) {
    found_ = true;
    unknown_ = false;
    at_.clear();
    // The expression engine takes texts up to this size; a longer one is left to it.
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
        unknown_ = true;
        return;
    }
    std::size_t at = schemeLength(text, unknown_);
    if (at == 0) return;
    while (true) {
        at_.push_back(static_cast<std::uint32_t>(at));
        std::size_t end = at;
        while (end < text.size() && isLabelCharacter(text[end]))
            ++end;
        if (end == text.size()) return;
        if (!isPrintable(text[end])) {
            unknown_ = true;
            return;
        }
        if (end == at || text[end] != '.') return;
        at = end + 1;
    }
}

SiteTailPattern::Answer SiteTailPattern::match(std::string_view text, Starts& starts) const {
    if (!starts.found_) starts.find(text);
    Answer result = starts.unknown_ ? Answer::unknown : Answer::no;
    for (const std::uint32_t at : starts.at_) {
        if (at < text.size() && !firstBytes_[static_cast<unsigned char>(text[at])]) continue;
        const Answer answer = matchAt(text, at, 0);
        if (answer == Answer::yes) return answer;
        if (answer == Answer::unknown) result = answer;
    }
    return result;
}

SiteTailPattern::Answer SiteTailPattern::matchAt(std::string_view text, std::size_t at, std::size_t segment) const {
    if (segment == segments_.size()) {
        if (!endsHost_ || at == text.size()) return Answer::yes;
        // "(?::\d+)?" then "/", "?", "#" or the end: a port is all digits up to one of them.
        std::size_t end = at;
        if (text[at] == ':') {
            for (end = at + 1; end < text.size() && isDigit(text[end]);)
                ++end;
            if (end == text.size()) return end == at + 1 ? Answer::no : Answer::yes;
            if (end == at + 1) return isPrintable(text[end]) ? Answer::no : Answer::unknown;
        }
        if (!isPrintable(text[end])) return Answer::unknown;
        return text[end] == '/' || text[end] == '?' || text[end] == '#' ? Answer::yes : Answer::no;
    }
    Answer result = Answer::no;
    for (const std::string& literal : segments_[segment]) {
        Answer answer = Answer::yes;
        for (std::size_t i = 0; i < literal.size() && answer == Answer::yes; ++i) {
            if (at + i < text.size() && !isPrintable(text[at + i])) {
                answer = Answer::unknown;
            } else if (at + i >= text.size() || (literal[i] != kAnyCharacter && lower(text[at + i]) != literal[i])) {
                answer = Answer::no;
            }
        }
        if (answer == Answer::yes) answer = matchAt(text, at + literal.size(), segment + 1);
        if (answer == Answer::yes) return answer;
        if (answer == Answer::unknown) result = answer;
    }
    return result;
}

}  // namespace tessaril
