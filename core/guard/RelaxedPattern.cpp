// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/RelaxedPattern.h"

#include "core/foundation/PatternSyntax.h"

#include <array>
#include <cstdint>

namespace tessaril::relaxed_pattern {

namespace {

using Kind = PatternSyntax::Kind;
using Form = PatternSyntax::Form;
using Quantifier = PatternSyntax::Quantifier;

constexpr std::uint32_t kFirstPrintable = 0x20;
constexpr std::uint32_t kLastPrintable = 0x7E;
// Any run of printable text: what stands in for a construct whose text is not modelled.
constexpr std::string_view kAnyRun = "[ -~]*";

// The white space that relaxedText reads as a space (ICU's \s holds these and the space).
bool isMappedSpace(std::uint32_t c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool isPrintable(std::uint32_t c) {
    return c >= kFirstPrintable && c <= kLastPrintable;
}

// ASCII membership of a set, one flag per code.
using AsciiSet = std::array<bool, 128>;

void addShorthand(AsciiSet& set, std::uint32_t letter) {
    const std::uint32_t lower = letter | 0x20U;
    for (std::uint32_t c = 0; c < 128; ++c) {
        bool in = false;
        if (lower == 'd') in = c >= '0' && c <= '9';
        if (lower == 'w') in = (c >= '0' && c <= '9') || ((c | 0x20U) >= 'a' && (c | 0x20U) <= 'z') || c == '_';
        if (lower == 's') in = isMappedSpace(c) || c == ' ';
        // A capital is the complement.
        if (letter < 'a' ? !in : in) set[c] = true;
    }
}

class Writer {
public:
    explicit Writer(const PatternSyntax& syntax) : syntax_(syntax) {}

    bool alternatives(std::int32_t holder, std::string& out) const {
        bool first = true;
        for (auto branch = syntax_.node(holder).child; branch >= 0; branch = syntax_.node(branch).next) {
            if (!first) out += '|';
            first = false;
            for (auto item = syntax_.node(branch).child; item >= 0; item = syntax_.node(item).next) {
                if (!this->item(item, out)) return false;
            }
        }
        return true;
    }

private:
    bool item(std::int32_t index, std::string& out) const {
        const auto& node = syntax_.node(index);
        switch (node.kind) {
            case Kind::assertion:
            case Kind::lookaround:
                // Zero-width, and so is any repetition of it: dropping it only lets more through.
                return true;
            case Kind::backReference:
                out += kAnyRun;
                return true;
            case Kind::literal:
                if (!literal(node.value, out)) return false;
                break;
            case Kind::any:
                out += '.';
                break;
            case Kind::shorthand:
                if (std::string_view("dwsDWS").find(static_cast<char>(node.value)) == std::string_view::npos) {
                    out += kAnyRun;
                    return true;
                }
                out += '\\';
                out += static_cast<char>(node.value);
                break;
            case Kind::set:
                if (!set(index, out)) return false;
                break;
            case Kind::group:
                out += "(?:";
                if (!alternatives(index, out)) return false;
                out += ')';
                break;
            case Kind::opaque:
                if (node.form == Form::comment) return true;
                if (node.form == Form::flags) return false;
                out += kAnyRun;
                return true;
            default:
                return false;
        }
        quantifier(node, out);
        return true;
    }

    static bool literal(std::uint32_t c, std::string& out) {
        if (isMappedSpace(c)) c = ' ';
        if (!isPrintable(c)) return false;
        if (PatternSyntax::isPunctuation(c)) out += '\\';
        out += static_cast<char>(c);
        return true;
    }

    // The set's printable members, and the space when it holds a white space character that
    // relaxedText reads as one. A set not modelled member by member may hold anything.
    bool set(std::int32_t index, std::string& out) const {
        const auto& node = syntax_.node(index);
        if (node.form != Form::modelled) {
            out += "[ -~]";
            return true;
        }
        AsciiSet members{};
        for (auto member = node.child; member >= 0; member = syntax_.node(member).next) {
            const auto& m = syntax_.node(member);
            if (m.kind == Kind::literal) {
                if (m.value < 128) members[m.value] = true;
            } else if (m.kind == Kind::range) {
                for (std::uint32_t c = m.value; c <= m.last && c < 128; ++c)
                    members[c] = true;
            } else if (m.kind == Kind::shorthand &&
                       std::string_view("dwsDWS").find(static_cast<char>(m.value)) != std::string_view::npos) {
                addShorthand(members, m.value);
            } else {
                out += "[ -~]";
                return true;
            }
        }
        if (node.negated) {
            for (bool& member : members)
                member = !member;
        }
        bool space = false;
        std::string written;
        for (std::uint32_t c = 0; c < 128; ++c) {
            if (!members[c]) continue;
            if (isMappedSpace(c) || c == ' ') {
                space = true;
            } else if (isPrintable(c)) {
                if (PatternSyntax::isPunctuation(c)) written += '\\';
                written += static_cast<char>(c);
            }
        }
        if (space) written += ' ';
        // A set without printable members never matches in a text the DFA answers for.
        if (written.empty()) return false;
        out += '[';
        out += written;
        out += ']';
        return true;
    }

    // Counted repetitions open up, so that the automaton stays small: at least once, or any number.
    static void quantifier(const PatternSyntax::Node& node, std::string& out) {
        if (node.quantifier == Quantifier::none) return;
        if (node.min == 0) {
            out += node.max == 1 ? "?" : "*";
        } else if (node.max != 1) {
            out += '+';
        }
    }

    const PatternSyntax& syntax_;
};

}  // namespace

std::optional<std::string> fromPattern(std::string_view pattern) {
    const auto syntax = PatternSyntax::parse(pattern);
    if (!syntax || syntax->holds(Form::flags)) return std::nullopt;
    std::string out = syntax->caseInsensitive() ? "(?i)" : "";
    if (!Writer(*syntax).alternatives(PatternSyntax::root, out)) return std::nullopt;
    return out;
}

std::optional<std::string> relaxedText(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (isMappedSpace(byte)) {
            c = ' ';
        } else if (!isPrintable(byte)) {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace tessaril::relaxed_pattern
