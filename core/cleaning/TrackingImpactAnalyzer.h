// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/TrackingCommercialCategory.h"
#include "core/cleaning/TrackingImpactReport.h"

#include <cstdint>
#include <span>
#include <string>

namespace tessaril {

struct CleanResult;

// Judges what the tracking removed by one clean was for. A pure function of the result: the same
// result always gets the same report, so statistics can count bands without storing reports.
class TrackingImpactAnalyzer {
public:
    TrackingImpactAnalyzer() = delete;

    [[nodiscard]] static TrackingImpactReport analyze(const CleanResult& result);
    // analyze(result).summary appended to `out`, without the rest of the report: for a caller that
    // writes one summary per link into a buffer it keeps.
    static void appendSummary(const CleanResult& result, std::string& out);

    // "Removed 2 tracking signals tied to campaign analytics." and the like.
    [[nodiscard]] static std::string summarize(std::int64_t totalSignals,
                                               std::span<const TrackingCommercialCategory> categories);
    // The first one or two categories' explanations, or a general sentence without categories.
    [[nodiscard]] static std::string explain(std::span<const TrackingCommercialCategory> categories);
};

}  // namespace tessaril
