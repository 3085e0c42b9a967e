// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/RulePrefilter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// Picks, for one URL, the providers whose URL pattern can possibly match it, so that only their
// expressions are run. Each pattern is read for the literal text every match must contain (almost
// always a host name or a host label); one pass of a multi-literal automaton over the case-folded URL
// finds which of those texts occur. A provider whose pattern gives nothing to index (".*",
// "^https?:\/\/") is always a candidate. The index only ever drops providers that cannot match: the
// caller still runs each candidate's expression.
//
// Not thread-safe: a query reuses scratch space kept in the index.
class ProviderIndex {
public:
    // `patterns[i]` is provider i's URL pattern, compiled case-insensitively.
    void build(const std::vector<std::string_view>& patterns);

    // Candidate provider numbers in ascending order, written to `out`. `foldedURL` is the URL after
    // RulePrefilter::foldFullyInto.
    void candidates(std::string_view foldedURL, std::vector<std::uint32_t>& out) const;

    [[nodiscard]] std::size_t providerCount() const { return filters_.size(); }
    // Providers that every URL is routed to.
    [[nodiscard]] std::size_t alwaysEvaluatedCount() const;

private:
    [[nodiscard]] std::uint32_t addFragment(const std::string& fragment);
    void buildAutomaton();

    std::vector<RulePrefilter> filters_;
    // Bit per provider, 64 to a word: providers without an indexed literal.
    std::vector<std::uint64_t> always_;
    // Fragment number -> providers keyed on it.
    std::vector<std::string> fragments_;
    std::vector<std::vector<std::uint32_t>> fragmentProviders_;
    // Aho-Corasick automaton over byte classes: next_[state * classCount_ + class].
    std::uint8_t byteClass_[256] = {};
    std::uint32_t classCount_ = 1;
    std::vector<std::uint32_t> next_;
    // Fragments recognised on reaching a state (its own and those of its suffixes).
    std::vector<std::vector<std::uint32_t>> output_;
    mutable std::vector<std::uint64_t> marked_;
};

}  // namespace tessaril
