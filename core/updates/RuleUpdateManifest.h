// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Date.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// The published description of one rules release: its version, where its rules came from, and the
// files of its bundle with their digests. The updater fetches one per channel and keeps a
// re-encoded copy in every installed bundle; each load decodes and validates that copy again.
struct RuleUpdateManifest {
    static constexpr std::int64_t supportedSchemaVersion = 1;
    // The largest rule file a manifest may announce (and the updater will read): 8 MiB.
    static constexpr std::int64_t maximumFileBytes = std::int64_t{8} * 1024 * 1024;
    // The largest manifest the product reads.
    static constexpr std::size_t maximumManifestBytes = std::size_t{128} * 1024;

    struct SourceSummary {
        struct ClearURLs {
            std::optional<std::string> source;
            std::optional<std::string> upstreamCommit;
            std::optional<Date> reviewedAt;
            bool operator==(const ClearURLs&) const = default;
        };
        struct Supplementary {
            std::optional<std::string> version;
            bool operator==(const Supplementary&) const = default;
        };
        std::optional<ClearURLs> clearurls;
        std::optional<Supplementary> tessarilSupplementary;
        bool operator==(const SourceSummary&) const = default;
    };

    struct File {
        enum class Kind { clearurls, tessarilSupplementary, commandGuard };
        Kind kind = Kind::clearurls;
        // Shown in messages only; the installer picks the name a file gets on disk (installedName).
        std::string path;
        std::string url;
        std::string sha256;
        std::optional<std::int64_t> bytes;
        bool operator==(const File&) const = default;
    };

    std::string product;
    std::string kind;
    std::int64_t schemaVersion = 0;
    std::string currentVersion;
    Date publishedAt;
    std::optional<std::string> minAppVersion;
    std::optional<SourceSummary> sourceSummary;
    std::vector<File> files;
    std::vector<std::string> notes;

    // The first file of each kind, in array order.
    [[nodiscard]] const File* clearURLsFile() const { return firstFile(File::Kind::clearurls); }
    [[nodiscard]] const File* supplementaryFile() const { return firstFile(File::Kind::tessarilSupplementary); }
    [[nodiscard]] const File* commandGuardFile() const { return firstFile(File::Kind::commandGuard); }

    // Throws RuleUpdateError (invalidManifest) with the first check that fails, in a fixed order.
    void validate(std::int64_t supportedSchema) const;

    // Strict: the whole document fails on text that is not JSON, a missing required key, a value of
    // the wrong type, an unknown file kind, a URL that is not absolute, or a date that is not an
    // internet date-time without fractions. Unknown keys are ignored; null reads as an absent
    // optional. Never throws.
    [[nodiscard]] static std::optional<RuleUpdateManifest> decode(std::string_view json);
    // Indented, keys sorted, absent optionals left out, dates in UTC.
    [[nodiscard]] std::string encode() const;

    bool operator==(const RuleUpdateManifest&) const = default;

private:
    [[nodiscard]] const File* firstFile(File::Kind kind) const;
};

// "clearurls", "tessaril-supplementary", "command-guard".
[[nodiscard]] std::string_view rawValue(RuleUpdateManifest::File::Kind kind);
[[nodiscard]] std::optional<RuleUpdateManifest::File::Kind> ruleFileKind(std::string_view rawValue);
// The name the file of that kind has in an installed bundle.
[[nodiscard]] std::string_view installedName(RuleUpdateManifest::File::Kind kind);

}  // namespace tessaril
