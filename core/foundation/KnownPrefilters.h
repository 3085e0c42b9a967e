// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/RulePrefilter.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaril {

// A pattern and its case-insensitive prefilter in encoded form (KnownPrefilters::encode).
struct KnownPrefilter {
    std::string_view pattern;
    std::string_view encoded;
};

// The case-insensitive prefilters of patterns worked out ahead of time. The build reads every pattern
// of the shipped rules as the matcher does and compiles the results into the programs, so that a
// start-up with those rules decodes each filter instead of reading its pattern (a fifth of the
// tool's start-up). A pattern not in the table is read as ever. The table is keyed by the exact
// pattern text and made by this build's own reader, so an answer from it is the one reading gives.
class KnownPrefilters {
public:
    KnownPrefilters() = default;
    // `sorted` is in ascending order of pattern and must outlive this object.
    explicit KnownPrefilters(std::span<const KnownPrefilter> sorted) : entries_(sorted) {}

    // RulePrefilter::fromPattern(pattern, true).
    [[nodiscard]] RulePrefilter caseInsensitive(std::string_view pattern) const;
    // The encoded filter of `pattern` when the table has it (read with `read`), else nothing.
    [[nodiscard]] std::optional<std::string_view> encoded(std::string_view pattern) const;

    // While set, each pattern read (not found in the table) is appended with its filter: how the
    // build learns which patterns the matcher reads.
    void recordInto(std::vector<std::pair<std::string, RulePrefilter>>* recorded) { recorded_ = recorded; }

    // A compact form of the filter, or nothing when it has a requirement of more than 255 fragments
    // or a fragment longer than 255 bytes.
    [[nodiscard]] static std::optional<std::string> encode(const RulePrefilter& filter);
    // The filter of an encoded form; anything malformed gives a filter that lets every text through.
    [[nodiscard]] static RulePrefilter decode(std::string_view encoded);
    // The requirements of an encoded form as views of it, without making a filter: the fragments in
    // order, and after each requirement the number of fragments so far. False (and the two
    // unspecified) when it is malformed.
    [[nodiscard]] static bool read(std::string_view encoded, std::vector<std::string_view>& fragments,
                                   std::vector<std::uint32_t>& requirementEnds);

private:
    std::span<const KnownPrefilter> entries_;
    std::vector<std::pair<std::string, RulePrefilter>>* recorded_ = nullptr;
};

}  // namespace tessaril
