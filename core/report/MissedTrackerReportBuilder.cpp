// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/report/MissedTrackerReportBuilder.h"

#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

#include <algorithm>

namespace tessaril {

namespace {

std::optional<std::string> hostOf(std::string_view url) {
    const auto link = URLComponents::parse(url);
    auto host = link ? link->host() : std::nullopt;
    if (host && host->empty()) return std::nullopt;
    return host;
}

}  // namespace

MissedTrackerReport MissedTrackerReportBuilder::build(const CleanResult& result, const Installation& installation,
                                                      std::string_view userNote, Date now) {
    MissedTrackerReport report;
    report.platform = installation.platform;
    report.osVersion = installation.osVersion;
    report.appVersion = installation.appVersion;
    report.appBuild = installation.appBuild;
    report.surface = installation.surface;
    report.originalURL = result.originalURL;
    report.cleanedURL = result.cleanedURL;
    report.host = hostOf(result.cleanedURL);
    if (!report.host) report.host = hostOf(result.originalURL);
    report.wasModified = result.originalURL != result.cleanedURL;
    report.paramsRemoved = result.paramsRemoved;
    report.matchedCategories.assign(result.matchedCategories.begin(), result.matchedCategories.end());
    std::sort(report.matchedCategories.begin(), report.matchedCategories.end(),
              [](RuleCategoryType a, RuleCategoryType b) { return rawValue(a) < rawValue(b); });
    report.matchedRuleIDs = result.matchedRuleIDs;
    report.rulesProviderCount = installation.rulesProviderCount;
    report.rulesLastUpdate = installation.rulesLastUpdate;
    report.userNote = text::graphemePrefix(userNote, userNoteMaxLength);
    report.createdAt = now;
    return report;
}

}  // namespace tessaril
