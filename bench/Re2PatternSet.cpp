// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/Re2PatternSet.h"

#include <algorithm>

namespace tessaril::bench {

bool Re2PatternSet::anchoredAtStart(std::string_view pattern) {
    if (!pattern.starts_with('^')) return false;
    int depth = 0;
    bool inClass = false;
    for (std::size_t i = 1; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            ++i;
        } else if (inClass) {
            inClass = c != ']';
        } else if (c == '[') {
            inClass = true;
            // A "]" right after "[" or "[^" is a member, not the end.
            if (i + 1 < pattern.size() && pattern[i + 1] == '^') ++i;
            if (i + 1 < pattern.size() && pattern[i + 1] == ']') ++i;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == '|' && depth == 0) {
            return false;
        }
    }
    return true;
}

bool Re2PatternSet::build(const std::vector<std::pair<std::uint32_t, std::string_view>>& members) {
    set_.reset();
    members_.clear();
    if (members.empty()) return true;
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    const bool anchored =
        std::all_of(members.begin(), members.end(), [](const auto& member) { return anchoredAtStart(member.second); });
    auto set = std::make_unique<RE2::Set>(options, anchored ? RE2::ANCHOR_START : RE2::UNANCHORED);
    for (const auto& [number, pattern] : members) {
        if (set->Add(re2::StringPiece(pattern.data(), pattern.size()), nullptr) < 0) return false;
        members_.push_back(number);
    }
    if (!set->Compile()) return false;
    set_ = std::move(set);
    return true;
}

void Re2PatternSet::match(std::string_view text, std::vector<std::uint32_t>& out, std::vector<int>& scratch) const {
    scratch.clear();
    if (!set_ || !set_->Match(re2::StringPiece(text.data(), text.size()), &scratch)) return;
    for (const int member : scratch)
        out.push_back(members_[static_cast<std::size_t>(member)]);
}

bool Re2PatternSet::matchesAny(std::string_view text) const {
    return set_ && set_->Match(re2::StringPiece(text.data(), text.size()), nullptr);
}

}  // namespace tessaril::bench
