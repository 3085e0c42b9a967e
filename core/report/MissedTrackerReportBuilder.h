// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanResult.h"
#include "core/foundation/Date.h"
#include "core/report/MissedTrackerReport.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// Makes the missed-tracker report of one clean. Pure: the same inputs give the same report.
class MissedTrackerReportBuilder {
public:
    static constexpr std::size_t userNoteMaxLength = 500;

    // What the report says about the program that made the clean.
    struct Installation {
        MissedTrackerReport::Platform platform = MissedTrackerReport::Platform::macOS;
        std::string osVersion;
        std::string appVersion;
        std::optional<std::string> appBuild;
        MissedTrackerReport::Surface surface = MissedTrackerReport::Surface::clipboard;
        // The size of the rule set in use and when it was last updated, where the caller knows them.
        std::optional<std::int64_t> rulesProviderCount;
        std::optional<Date> rulesLastUpdate;
    };

    // The note is kept as typed, cut to its first 500 characters; the host is the cleaned link's,
    // else the original's.
    [[nodiscard]] static MissedTrackerReport build(const CleanResult& result, const Installation& installation,
                                                   std::string_view userNote, Date now);
};

}  // namespace tessaril
