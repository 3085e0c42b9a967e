// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <re2/re2.h>
#include <re2/set.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaril::bench {

// Patterns matched together, case-insensitively, in one pass of an RE2::Set over a text. A set
// searched anywhere in the text runs to its end; when every member is tied to the start of the text
// ("^..." without a top-level alternative), the set is anchored there instead, and its pass stops as
// soon as no member can match any more. (Splitting a mixed set in two costs more than it saves on the
// shipped URL patterns: the unanchored part still runs to the end.)
class Re2PatternSet {
public:
    // Each member is a pattern number and its text; false when RE2 rejects the set.
    bool build(const std::vector<std::pair<std::uint32_t, std::string_view>>& members);
    [[nodiscard]] bool empty() const { return !set_; }
    // Appends the numbers of the members that match `text`.
    void match(std::string_view text, std::vector<std::uint32_t>& out, std::vector<int>& scratch) const;
    [[nodiscard]] bool matchesAny(std::string_view text) const;

    [[nodiscard]] static bool anchoredAtStart(std::string_view pattern);

private:
    std::unique_ptr<RE2::Set> set_;
    std::vector<std::uint32_t> members_;
};

}  // namespace tessaril::bench
