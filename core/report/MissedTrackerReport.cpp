// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/report/MissedTrackerReport.h"

#include "core/foundation/Dates.h"
#include "core/foundation/Text.h"

#include <nlohmann/json.hpp>

namespace tessaril {

namespace {

constexpr std::size_t kSubjectHostLength = 50;

std::string joinedOrNone(const std::vector<std::string>& items) {
    if (items.empty()) return "[none]";
    std::string joined;
    for (const auto& item : items) {
        if (!joined.empty()) joined += ", ";
        joined += item;
    }
    return joined;
}

// A query item value in a mailto link: "&", "=", "+" and "#" are escaped along with everything a
// query may not hold, so the mail program reads back exactly the text.
std::string mailtoValue(std::string_view text) {
    return text::percentEncode(text, "!$'()*,;:@/?");
}

// The payload, pretty-printed in a fenced "json" block. Text that is not UTF-8 (a note typed into a
// terminal, say) shows as U+FFFD rather than costing the whole appendix.
std::string fencedJson(const MissedTrackerReport::JSONPayload& payload) {
    return "```json\n" + payload.toJson().dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n```";
}

}  // namespace

std::string_view rawValue(MissedTrackerReport::Platform platform) {
    switch (platform) {
        case MissedTrackerReport::Platform::macOS:
            return "macOS";
        case MissedTrackerReport::Platform::iOS:
            return "iOS";
        case MissedTrackerReport::Platform::windows:
            return "Windows";
        case MissedTrackerReport::Platform::linuxOS:
            return "Linux";
    }
    return "macOS";
}

std::string_view rawValue(MissedTrackerReport::Surface surface) {
    switch (surface) {
        case MissedTrackerReport::Surface::clipboard:
            return "Clipboard";
        case MissedTrackerReport::Surface::manualClean:
            return "Manual Clean";
        case MissedTrackerReport::Surface::shareExtension:
            return "Share Extension";
        case MissedTrackerReport::Surface::safariExtension:
            return "Safari Extension";
    }
    return "Clipboard";
}

nlohmann::json MissedTrackerReport::JSONPayload::toJson() const {
    // nlohmann::json keeps its keys sorted.
    nlohmann::json json = {
        {"schemaVersion", schemaVersion},
        {"platform", platform},
        {"osVersion", osVersion},
        {"appVersion", appVersion},
        {"surface", surface},
        {"originalURL", originalURL},
        {"cleanedURL", cleanedURL},
        {"wasModified", wasModified},
        {"paramsRemoved", paramsRemoved},
        {"matchedCategories", matchedCategories},
        {"matchedRuleIDs", matchedRuleIDs},
        {"userNote", userNote},
        {"createdAt", formatInternetDateTime(createdAt)},
    };
    if (appBuild) json["appBuild"] = *appBuild;
    if (host) json["host"] = *host;
    if (rulesProviderCount) json["rulesProviderCount"] = *rulesProviderCount;
    if (rulesLastUpdate) json["rulesLastUpdate"] = formatInternetDateTime(*rulesLastUpdate);
    return json;
}

std::string MissedTrackerReport::subject() const {
    std::string_view hostPart = host && !host->empty() ? std::string_view(*host) : "Unknown Host";
    if (text::graphemeCount(hostPart) > kSubjectHostLength)
        hostPart = text::graphemePrefix(hostPart, kSubjectHostLength);
    return "[Missed Tracker] " + std::string(hostPart) + " - " + std::string(rawValue(platform)) + " - v" + appVersion;
}

MissedTrackerReport::JSONPayload MissedTrackerReport::jsonPayload() const {
    JSONPayload payload;
    payload.schemaVersion = schemaVersion;
    payload.platform = rawValue(platform);
    payload.osVersion = osVersion;
    payload.appVersion = appVersion;
    payload.appBuild = appBuild;
    payload.surface = rawValue(surface);
    payload.originalURL = originalURL;
    payload.cleanedURL = cleanedURL;
    payload.host = host;
    payload.wasModified = wasModified;
    payload.paramsRemoved = paramsRemoved;
    for (const RuleCategoryType category : matchedCategories)
        payload.matchedCategories.emplace_back(rawValue(category));
    payload.matchedRuleIDs = matchedRuleIDs;
    payload.rulesProviderCount = rulesProviderCount;
    payload.rulesLastUpdate = rulesLastUpdate;
    payload.userNote = userNote;
    payload.createdAt = createdAt;
    return payload;
}

std::string MissedTrackerReport::jsonAppendix() const {
    return fencedJson(jsonPayload());
}

std::string MissedTrackerReport::bodyText() const {
    const auto payload = jsonPayload();
    std::vector<std::string> summary;
    if (rulesProviderCount) summary.push_back("provider_count=" + std::to_string(*rulesProviderCount));
    if (rulesLastUpdate) summary.push_back("last_update=" + formatDay(*rulesLastUpdate, "UTC"));

    const std::vector<std::string> lines = {"Tessaril Missed Tracker Report",
                                            "",
                                            "User note:",
                                            userNote.empty() ? "[none]" : userNote,
                                            "",
                                            "Original URL:",
                                            originalURL,
                                            "",
                                            "Cleaned URL:",
                                            cleanedURL,
                                            "",
                                            "Platform:",
                                            payload.platform + " " + osVersion,
                                            "",
                                            "App version:",
                                            appBuild ? appVersion + " (" + *appBuild + ")" : appVersion,
                                            "",
                                            "Surface:",
                                            payload.surface,
                                            "",
                                            "Params removed:",
                                            std::to_string(paramsRemoved),
                                            "",
                                            "Matched categories:",
                                            joinedOrNone(payload.matchedCategories),
                                            "",
                                            "Matched rule IDs:",
                                            joinedOrNone(matchedRuleIDs),
                                            "",
                                            "Rules summary:",
                                            summary.empty() ? "[not available]" : joinedOrNone(summary),
                                            "",
                                            "Created at:",
                                            formatInternetDateTime(createdAt),
                                            "",
                                            "--- machine-readable (do not edit) ---"};
    std::string body;
    for (const std::string& line : lines) {
        body += line;
        body += '\n';
    }
    return body + fencedJson(payload);
}

std::string MissedTrackerReport::mailtoURL() const {
    return "mailto:" + std::string(recipientEmail) + "?subject=" + mailtoValue(subject()) +
           "&body=" + mailtoValue(bodyText());
}

bool MissedTrackerReport::mailtoIsSafeLength() const {
    return text::graphemeCount(mailtoURL()) <= mailtoLengthLimit;
}

}  // namespace tessaril
