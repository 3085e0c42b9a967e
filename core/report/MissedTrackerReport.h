// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/RuleCategoryType.h"
#include "core/foundation/Date.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// What the user can send us about a link that still carries tracking after a clean: the clean and a
// few facts about the installation, as a text to read with a JSON appendix for our tools, an e-mail
// subject and an e-mail compose link. Nothing here sends anything; the user reviews the report and
// chooses how to share it. Made by MissedTrackerReportBuilder.
struct MissedTrackerReport {
    enum class Platform { macOS, iOS, windows, linuxOS };
    enum class Surface { clipboard, manualClean, shareExtension, safariExtension };

    // The report window's fixed texts.
    struct SharedCopy {
        static constexpr std::string_view reviewTitle = "Review Report";
        static constexpr std::string_view reviewHelperText =
            "Nothing is sent automatically. Review and choose how to share it.";
        static constexpr std::string_view notePrompt = "What should Tessaril have removed?";
        static constexpr std::string_view emptyStateMessage = "Clean a link first, then report anything we missed.";
        static constexpr std::string_view reportActionLabel = "Report Missed Tracker";
        static constexpr std::string_view emailButtonLabel = "Email Report";
        static constexpr std::string_view shareButtonLabel = "Share Report";
        static constexpr std::string_view copyButtonLabel = "Copy Report";
        static constexpr std::string_view cancelButtonLabel = "Cancel";
        // Shown instead of opening the mail program when the compose link would be too long for it.
        static constexpr std::string_view emailTooLongMessage =
            "This report is too long for email compose. Use Share Report or Copy Report.";
    };

    // The machine-readable appendix: the report's fields with the enumerations as their raw values.
    struct JSONPayload {
        int schemaVersion = 1;
        std::string platform;
        std::string osVersion;
        std::string appVersion;
        std::optional<std::string> appBuild;
        std::string surface;
        std::string originalURL;
        std::string cleanedURL;
        std::optional<std::string> host;
        bool wasModified = false;
        std::int64_t paramsRemoved = 0;
        std::vector<std::string> matchedCategories;
        std::vector<std::string> matchedRuleIDs;
        std::optional<std::int64_t> rulesProviderCount;
        std::optional<Date> rulesLastUpdate;
        std::string userNote;
        Date createdAt;

        // Keys sorted, dates as internet date-times in UTC, absent values left out (never null).
        [[nodiscard]] nlohmann::json toJson() const;

        bool operator==(const JSONPayload&) const = default;
    };

    static constexpr int schemaVersion = 1;
    // Mail programs and the systems that hand them links cut or refuse longer compose links.
    static constexpr std::size_t mailtoLengthLimit = 8192;
    static constexpr std::string_view recipientEmail = "missed-trackers@tessaril.app";

    Platform platform = Platform::macOS;
    std::string osVersion;
    std::string appVersion;
    std::optional<std::string> appBuild;
    Surface surface = Surface::clipboard;
    std::string originalURL;
    std::string cleanedURL;
    std::optional<std::string> host;
    bool wasModified = false;
    std::int64_t paramsRemoved = 0;
    // Sorted by raw value.
    std::vector<RuleCategoryType> matchedCategories;
    std::vector<std::string> matchedRuleIDs;
    std::optional<std::int64_t> rulesProviderCount;
    std::optional<Date> rulesLastUpdate;
    // At most 500 characters.
    std::string userNote;
    Date createdAt;

    // "[Missed Tracker] HOST - PLATFORM - vVERSION", the host cut to 50 characters ("Unknown Host"
    // without one).
    [[nodiscard]] std::string subject() const;
    // The report to read, ending with the JSON appendix.
    [[nodiscard]] std::string bodyText() const;
    [[nodiscard]] std::string shareText() const { return bodyText(); }
    [[nodiscard]] JSONPayload jsonPayload() const;
    // The payload, pretty-printed in a fenced "json" block.
    [[nodiscard]] std::string jsonAppendix() const;
    // "mailto:" the recipient, with the subject and body as percent-encoded query items.
    [[nodiscard]] std::string mailtoURL() const;
    // Whether mailtoURL() has at most mailtoLengthLimit characters (grapheme clusters).
    [[nodiscard]] bool mailtoIsSafeLength() const;

    bool operator==(const MissedTrackerReport&) const = default;
};

// The display text, also the JSON form: "macOS", "iOS", "Windows", "Linux".
[[nodiscard]] std::string_view rawValue(MissedTrackerReport::Platform platform);
// "Clipboard", "Manual Clean", "Share Extension", "Safari Extension".
[[nodiscard]] std::string_view rawValue(MissedTrackerReport::Surface surface);

}  // namespace tessaril
