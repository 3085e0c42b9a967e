// SPDX-License-Identifier: GPL-3.0-or-later
// The pattern reader, the lazy DFA and the backtracker against ICU on arbitrary patterns and texts.
// Input: a first byte whose low bit asks for case-insensitive matching, the pattern up to the first
// line feed, then the text. Checked: reading any pattern is safe, and a tree read accounts for its
// text (every node within its parent, in order, alternatives one bar apart), as Command Guard's
// alternatives rely on; ICU finds the same ranges in a prepared UTF-16 copy of the text (SearchText)
// as in the UTF-8 text, malformed bytes included; a pattern the DFA's subset accepts is one ICU accepts; whenever the
// DFA answers, it answers as ICU does (unless ICU ran out of work, where they may differ by design), also for a second
// text that begins with the same eight bytes and resumes from the state they led to; a warm cache, a cache too small to
// hold two states and Regex::search itself all give the same answer; the literal prefilter lets every ASCII text
// through that the pattern matches; whenever the backtracker may answer, Regex::firstMatch gives ICU's ranges for the
// match and every group, Regex::replaceAll ICU's text, and neither reports running out of work.
#include "core/foundation/LazyDfa.h"
#include "core/foundation/NfaBacktracker.h"
#include "core/foundation/PatternSyntax.h"
#include "core/foundation/Regex.h"
#include "core/foundation/RegexNfa.h"
#include "core/foundation/RulePrefilter.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace {

using tessaril::LazyDfa;
using tessaril::NfaBacktracker;
using tessaril::PatternSyntax;
using tessaril::Regex;
using tessaril::RegexNfa;
using tessaril::RulePrefilter;
using tessaril::SearchText;

// Enough for any pattern of the subset on texts of this size; it only stops runaway backtracking.
constexpr std::int32_t kWorkLimit = 50;
constexpr std::size_t kMaximumPattern = 512;
constexpr std::size_t kMaximumText = 4096;

// Whether a tree accounts for its text: a branch is its items one after the other, alternatives are
// one "|" apart, every node lies within its parent, and the whole pattern's alternatives cover its
// text after a leading "(?i)".
bool accountsForItsText(const PatternSyntax& syntax, std::string_view pattern) {
    const auto& root = syntax.node(PatternSyntax::root);
    if (root.begin != (syntax.caseInsensitive() ? 4U : 0U) || root.end != pattern.size()) return false;
    for (std::int32_t parent = 0; parent < static_cast<std::int32_t>(syntax.size()); ++parent) {
        const auto& node = syntax.node(parent);
        const bool items = node.kind == PatternSyntax::Kind::branch;
        bool exact = items || parent == PatternSyntax::root;  // the first child begins where its parent does
        std::uint32_t at = node.begin;
        for (auto child = node.child; child >= 0; child = syntax.node(child).next) {
            const auto& inner = syntax.node(child);
            if (inner.kind == PatternSyntax::Kind::branch && child != node.child) {
                if (at >= pattern.size() || pattern[at] != '|') return false;
                ++at;
                exact = true;
            }
            if (exact ? inner.begin != at : inner.begin < at) return false;
            if (inner.end < inner.begin || inner.end > node.end) return false;
            exact = items;
            at = inner.end;
        }
        if ((items || parent == PatternSyntax::root) && at != node.end) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool caseInsensitive = (data[0] & 1) != 0;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto lineFeed = input.find('\n');
    if (lineFeed == std::string_view::npos) return 0;
    const auto pattern = input.substr(0, lineFeed);
    const auto text = input.substr(lineFeed + 1);
    if (pattern.size() > kMaximumPattern || text.size() > kMaximumText) return 0;

    if (const auto syntax = PatternSyntax::parse(pattern)) FUZZ_CHECK(accountsForItsText(*syntax, pattern));
    if (auto regex = Regex::compile(pattern, caseInsensitive)) {
        regex->setFastPathEnabled(false);
        regex->setWorkLimit(kWorkLimit);
        const auto direct = regex->firstMatch(text);
        const bool directFinished = !regex->lastMatchHitLimit();
        const auto prepared = regex->firstMatch(SearchText(text));
        if (directFinished && !regex->lastMatchHitLimit()) {
            FUZZ_CHECK(direct.has_value() == prepared.has_value());
            if (direct) FUZZ_CHECK(direct->whole == prepared->whole && direct->groups == prepared->groups);
        }
    }
    const auto nfa = RegexNfa::parse(pattern, caseInsensitive);
    if (!nfa) return 0;
    auto icu = Regex::compile(pattern, caseInsensitive);
    FUZZ_CHECK(icu.has_value());
    icu->setFastPathEnabled(false);
    icu->setWorkLimit(kWorkLimit);

    LazyDfa dfa(nfa);
    LazyDfa cramped(nfa, 1);
    const auto answer = dfa.search(text);
    FUZZ_CHECK(dfa.search(text) == answer);
    FUZZ_CHECK(cramped.search(text) == answer);
    FUZZ_CHECK(cramped.stateCount() <= 1);

    const bool expected = icu->search(text);
    if (icu->lastMatchHitLimit()) return 0;
    if (answer) FUZZ_CHECK(*answer == expected);
    if (text.size() > 8) {
        const auto shorter = text.substr(0, text.size() - 1);
        const bool shorterExpected = icu->search(shorter);
        for (auto* cache : {&dfa, &cramped}) {
            const auto resumed = cache->search(shorter);
            FUZZ_CHECK(icu->lastMatchHitLimit() || !resumed || *resumed == shorterExpected);
        }
    }
    // The literal prefilter never turns away a text the pattern matches (checked on ASCII texts,
    // whose case folding is a plain lowering).
    if (expected && std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
        const auto filter = RulePrefilter::fromPattern(pattern, caseInsensitive);
        FUZZ_CHECK(filter.mayMatch(text, RulePrefilter::foldForMatching(text)));
    }
    auto product = *Regex::compile(pattern, caseInsensitive);
    product.setWorkLimit(kWorkLimit);
    FUZZ_CHECK(product.search(text) == expected);
    FUZZ_CHECK(product.captureGroupCount() == icu->captureGroupCount());

    if (!NfaBacktracker(nfa).answers(text)) return 0;
    const auto expectedMatch = icu->firstMatch(text);
    if (icu->lastMatchHitLimit()) return 0;
    const auto match = product.firstMatch(text);
    FUZZ_CHECK(!product.lastMatchHitLimit());
    FUZZ_CHECK(match.has_value() == expected);
    FUZZ_CHECK(match.has_value() == expectedMatch.has_value());
    if (match) FUZZ_CHECK(match->whole == expectedMatch->whole && match->groups == expectedMatch->groups);
    const auto replaced = icu->replaceAll(text, "<>");
    if (icu->lastMatchHitLimit()) return 0;
    FUZZ_CHECK(product.replaceAll(text, "<>") == replaced);
    return 0;
}
