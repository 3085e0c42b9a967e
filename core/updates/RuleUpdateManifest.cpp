// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RuleUpdateManifest.h"

#include "core/foundation/Dates.h"
#include "core/foundation/JsonFields.h"
#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"
#include "core/updates/RuleUpdateError.h"
#include "core/updates/StaticUpdateSession.h"

#include <algorithm>
#include <array>
#include <set>
#include <utility>

#include <nlohmann/json.hpp>

namespace tessaril {

namespace {

using json = nlohmann::json;
using Kind = RuleUpdateManifest::File::Kind;
namespace fields = json_fields;

struct KindName {
    Kind kind;
    std::string_view raw;
    std::string_view installed;
};
constexpr std::array<KindName, 3> kKinds = {{
    {Kind::clearurls, "clearurls", "data.min.json"},
    {Kind::tessarilSupplementary, "tessaril-supplementary", "tessaril-supplementary.json"},
    {Kind::commandGuard, "command-guard", "command-guard-rules.json"},
}};

const KindName& kindName(Kind kind) {
    return *std::find_if(kKinds.begin(), kKinds.end(), [kind](const KindName& entry) { return entry.kind == kind; });
}

// A present key holding null counts as absent, as for any optional field of the document.
const json* optionalField(const json& object, std::string_view key) {
    const json* value = fields::field(object, key);
    return value == nullptr || value->is_null() ? nullptr : value;
}

// Absent or null gives an empty optional; a value of another type gives false.
bool readOptionalString(const json& object, std::string_view key, std::optional<std::string>& out) {
    const json* value = optionalField(object, key);
    if (value == nullptr) return true;
    if (!value->is_string()) return false;
    out = value->get<std::string>();
    return true;
}

bool readOptionalDate(const json& object, std::string_view key, std::optional<Date>& out) {
    std::optional<std::string> text;
    if (!readOptionalString(object, key, text)) return false;
    if (!text) return true;
    out = parseInternetDateTime(*text);
    return out.has_value();
}

bool isAbsoluteURL(std::string_view text) {
    const auto components = URLComponents::parse(text);
    return components && components->scheme();
}

std::optional<RuleUpdateManifest::SourceSummary> decodeSourceSummary(const json& object, bool& ok) {
    ok = object.is_object();
    if (!ok) return std::nullopt;
    RuleUpdateManifest::SourceSummary summary;
    if (const json* clearurls = optionalField(object, "clearurls")) {
        RuleUpdateManifest::SourceSummary::ClearURLs entry;
        ok = clearurls->is_object() && readOptionalString(*clearurls, "source", entry.source) &&
             readOptionalString(*clearurls, "upstreamCommit", entry.upstreamCommit) &&
             readOptionalDate(*clearurls, "reviewedAt", entry.reviewedAt);
        summary.clearurls = std::move(entry);
    }
    if (const json* supplementary = optionalField(object, "tessarilSupplementary"); ok && supplementary) {
        RuleUpdateManifest::SourceSummary::Supplementary entry;
        ok = supplementary->is_object() && readOptionalString(*supplementary, "version", entry.version);
        summary.tessarilSupplementary = std::move(entry);
    }
    return summary;
}

std::optional<RuleUpdateManifest::File> decodeFile(const json& object) {
    RuleUpdateManifest::File file;
    const auto kindText = fields::requiredString(object, "kind");
    const auto kind = kindText ? ruleFileKind(*kindText) : std::nullopt;
    auto path = fields::requiredString(object, "path");
    auto url = fields::requiredString(object, "url");
    auto sha256 = fields::requiredString(object, "sha256");
    if (!kind || !path || !url || !sha256 || !isAbsoluteURL(*url)) return std::nullopt;
    if (const json* bytes = optionalField(object, "bytes")) {
        file.bytes = fields::int64Value(*bytes);
        if (!file.bytes) return std::nullopt;
    }
    file.kind = *kind;
    file.path = std::move(*path);
    file.url = std::move(*url);
    file.sha256 = std::move(*sha256);
    return file;
}

std::optional<RuleUpdateManifest> decodeManifest(const json& document) {
    RuleUpdateManifest manifest;
    auto product = fields::requiredString(document, "product");
    auto kind = fields::requiredString(document, "kind");
    const auto schema = fields::requiredInt64(document, "schemaVersion");
    auto version = fields::requiredString(document, "currentVersion");
    const auto publishedText = fields::requiredString(document, "publishedAt");
    const auto published = publishedText ? parseInternetDateTime(*publishedText) : std::nullopt;
    const json* files = fields::field(document, "files");
    const json* notes = fields::field(document, "notes");
    if (!product || !kind || !schema || !version || !published || files == nullptr || !files->is_array() ||
        notes == nullptr || !notes->is_array()) {
        return std::nullopt;
    }
    if (!readOptionalString(document, "minAppVersion", manifest.minAppVersion)) return std::nullopt;
    if (const json* summary = optionalField(document, "sourceSummary")) {
        bool ok = false;
        manifest.sourceSummary = decodeSourceSummary(*summary, ok);
        if (!ok) return std::nullopt;
    }
    for (const json& entry : *files) {
        auto file = decodeFile(entry);
        if (!file) return std::nullopt;
        manifest.files.push_back(std::move(*file));
    }
    for (const json& note : *notes) {
        if (!note.is_string()) return std::nullopt;
        manifest.notes.push_back(note.get<std::string>());
    }
    manifest.product = std::move(*product);
    manifest.kind = std::move(*kind);
    manifest.schemaVersion = *schema;
    manifest.currentVersion = std::move(*version);
    manifest.publishedAt = *published;
    return manifest;
}

bool isSha256Hex(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

bool isOnRulesOrigin(const std::string& url) {
    if (!StaticUpdateSession::allowed(url)) return false;
    const auto path = URLComponents::parse(url)->path();
    return path && path->starts_with("/tessaril/rules/");
}

[[noreturn]] void invalid(std::string message) {
    throw RuleUpdateError(RuleUpdateError::Kind::invalidManifest, std::move(message));
}

}  // namespace

std::string_view rawValue(Kind kind) {
    return kindName(kind).raw;
}

std::optional<Kind> ruleFileKind(std::string_view rawValue) {
    for (const auto& entry : kKinds) {
        if (entry.raw == rawValue) return entry.kind;
    }
    return std::nullopt;
}

std::string_view installedName(Kind kind) {
    return kindName(kind).installed;
}

const RuleUpdateManifest::File* RuleUpdateManifest::firstFile(Kind kind) const {
    const auto found = std::find_if(files.begin(), files.end(), [kind](const File& file) { return file.kind == kind; });
    return found == files.end() ? nullptr : &*found;
}

void RuleUpdateManifest::validate(std::int64_t supportedSchema) const {
    if (product != "Tessaril") invalid("Unexpected product");
    if (kind != "rules") invalid("Unexpected manifest kind");
    if (schemaVersion != supportedSchema) invalid("Unsupported rules schema");
    if (text::trim(currentVersion).empty()) invalid("Missing rules version");
    if (clearURLsFile() == nullptr) invalid("Missing ClearURLs rule file");
    if (supplementaryFile() == nullptr) invalid("Missing Tessaril supplementary rule file");
    std::set<Kind> kinds;
    for (const auto& file : files)
        kinds.insert(file.kind);
    if (kinds.size() != files.size()) invalid("Duplicate file kinds");
    for (const auto& file : files) {
        if (!isOnRulesOrigin(file.url)) invalid("Rule files must use the static Orvelle rules origin");
        if (file.bytes && (*file.bytes < 1 || *file.bytes > maximumFileBytes)) invalid("Invalid rule file size");
        if (!isSha256Hex(file.sha256)) invalid("Invalid SHA-256 for " + file.path);
        if (file.path.find('/') != std::string::npos || file.path.find("..") != std::string::npos) {
            invalid("Invalid rule file path");
        }
    }
}

std::optional<RuleUpdateManifest> RuleUpdateManifest::decode(std::string_view text) {
    const json document = json::parse(text, nullptr, false);
    if (document.is_discarded()) return std::nullopt;
    return decodeManifest(document);
}

std::string RuleUpdateManifest::encode() const {
    // nlohmann's default object is an ordered map, so keys come out sorted.
    json document = {{"product", product},
                     {"kind", kind},
                     {"schemaVersion", schemaVersion},
                     {"currentVersion", currentVersion},
                     {"publishedAt", formatInternetDateTime(publishedAt)},
                     {"files", json::array()},
                     {"notes", notes}};
    if (minAppVersion) document["minAppVersion"] = *minAppVersion;
    if (sourceSummary) {
        json summary = json::object();
        if (const auto& clearurls = sourceSummary->clearurls) {
            json entry = json::object();
            if (clearurls->source) entry["source"] = *clearurls->source;
            if (clearurls->upstreamCommit) entry["upstreamCommit"] = *clearurls->upstreamCommit;
            if (clearurls->reviewedAt) entry["reviewedAt"] = formatInternetDateTime(*clearurls->reviewedAt);
            summary["clearurls"] = std::move(entry);
        }
        if (const auto& supplementary = sourceSummary->tessarilSupplementary) {
            json entry = json::object();
            if (supplementary->version) entry["version"] = *supplementary->version;
            summary["tessarilSupplementary"] = std::move(entry);
        }
        document["sourceSummary"] = std::move(summary);
    }
    for (const auto& file : files) {
        json entry = {{"kind", rawValue(file.kind)}, {"path", file.path}, {"url", file.url}, {"sha256", file.sha256}};
        if (file.bytes) entry["bytes"] = *file.bytes;
        document["files"].push_back(std::move(entry));
    }
    // Text from a decoded document is valid UTF-8, but a record built in code may not be: replace
    // rather than throw.
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace tessaril
