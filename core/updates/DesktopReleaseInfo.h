// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// The current desktop release as the maker's release file describes it.
struct DesktopReleaseInfo {
    // One to four dot-separated groups of one to nine digits.
    std::string currentVersion;
    // 0 or more when present.
    std::optional<std::int64_t> currentBuild;
    // Kept as written, never interpreted.
    std::optional<std::string> releaseDate;
    // Absolute, or relative to the release file.
    std::optional<std::string> notesUrl;
    std::optional<std::string> downloadUrl;

    bool operator==(const DesktopReleaseInfo&) const = default;
};

// The release file: {"product": "Tessaril", "desktop": {...}}.
struct DesktopReleasePayload {
    std::string product;
    DesktopReleaseInfo desktop;

    // Strict on types: a missing required key or a value of the wrong type fails the whole file;
    // unknown keys are ignored. Nothing is checked beyond that. Never throws.
    [[nodiscard]] static std::optional<DesktopReleasePayload> decode(std::string_view json);

    bool operator==(const DesktopReleasePayload&) const = default;
};

// Whether `version` is one to four dot-separated groups of one to nine ASCII digits.
[[nodiscard]] bool isDesktopReleaseVersion(std::string_view version);

}  // namespace tessaril
