// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the manifest of a folder of rule files, refusing any folder the product itself would refuse
// to install. Two uses:
//   tessaril_publish_rules shipped FOLDER TEMPLATE OUTPUT
//     the manifest of the shipped rules (the build runs this, so it always matches the files);
//   tessaril_publish_rules publish FOLDER TEMPLATE VERSION stable|beta ORIGIN_ROOT KEY
//     a release for the static update origin: ORIGIN_ROOT/tessaril/rules[/beta]/manifest.json, its
//     signature manifest.json.sig by the Ed25519 private key in the PEM file KEY (what
//     `openssl genpkey -algorithm ed25519` writes), and the files under VERSION/ beside them.
//   tessaril_publish_rules checked FOLDER OUTPUT
//     C++ source listing the digests of the folder's provider files whose every pattern loads (the
//     build runs this for the shipped rules, so that loading them need not check each pattern);
// TEMPLATE is a manifest without files, which gives the version, the notes and where the rules came
// from; a published release takes its version from the command line. Both are dated by the build:
// SOURCE_DATE_EPOCH when it is set (reproducible builds set it, and the build sets it to the last
// commit of the shipped rule files), else now, so a new rules version never carries an old date.
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/matching/RuleMatcher.h"
#include "core/foundation/ContentDigest.h"
#include "core/foundation/FileContents.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/KnownPrefilters.h"
#include "core/foundation/Sha256.h"
#include "core/foundation/Text.h"
#include "core/guard/CommandGuard.h"
#include "core/updates/RuleManifestSignature.h"
#include "core/updates/RuleUpdateChannel.h"
#include "core/updates/RuleUpdateError.h"
#include "core/updates/RuleUpdateManifest.h"
#include "core/updates/StaticUpdateSession.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaril {
namespace {

namespace fs = std::filesystem;
using Kind = RuleUpdateManifest::File::Kind;

// Why the folder cannot be published.
class Refusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RuleFile {
    Kind kind;
    std::string bytes;
};

// The folder's rule files, in manifest order; the Command Guard file is optional.
std::vector<RuleFile> readRuleFiles(const fs::path& folder) {
    std::vector<RuleFile> files;
    for (Kind kind : {Kind::clearurls, Kind::tessarilSupplementary, Kind::commandGuard}) {
        const fs::path file = folder / installedName(kind);
        auto bytes = readFileContents(file, RuleUpdateManifest::maximumFileBytes);
        if (!bytes) {
            if (kind == Kind::commandGuard && !fs::exists(file)) continue;
            throw Refusal("cannot read " + file.string());
        }
        files.push_back({kind, std::move(*bytes)});
    }
    InMemoryUserDefaults defaults;
    if (auto problem = RulesEngine::validateRuleBundle(defaults, files[0].bytes, files[1].bytes)) {
        throw Refusal("the rules would be refused: " + *problem);
    }
    if (files.size() == 3 && !CommandGuard::ruleBundleVersion(files[2].bytes)) {
        throw Refusal("the Command Guard rules would be refused: they have no version");
    }
    return files;
}

// `directory` is the path on the origin, "/tessaril/rules/…/" with its final slash.
RuleUpdateManifest manifestOf(RuleUpdateManifest manifest, const std::vector<RuleFile>& files,
                              const std::string& directory) {
    manifest.files.clear();
    for (const auto& [kind, bytes] : files) {
        const std::string name(installedName(kind));
        manifest.files.push_back({kind, name,
                                  "https://" + std::string(StaticUpdateSession::originHost) + directory + name,
                                  sha256Hex(bytes), static_cast<std::int64_t>(bytes.size())});
    }
    try {
        manifest.validate(RuleUpdateManifest::supportedSchemaVersion);
    } catch (const RuleUpdateError& error) {
        throw Refusal(error.what());
    }
    return manifest;
}

RuleUpdateManifest readTemplate(const fs::path& file) {
    const auto text = readFileContents(file, RuleUpdateManifest::maximumManifestBytes);
    auto manifest = text ? RuleUpdateManifest::decode(*text) : std::nullopt;
    if (!manifest) throw Refusal(file.string() + " is not a manifest");
    return std::move(*manifest);
}

void write(const fs::path& file, std::string_view bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out) throw Refusal("cannot write " + file.string());
}

// The signature of `manifest` by the private key in the PEM file `keyFile`.
std::string signatureOf(std::string_view manifest, const fs::path& keyFile) {
    constexpr std::size_t kMaximumKeyFileBytes = 64 * 1024;
    const auto pem = readFileContents(keyFile, kMaximumKeyFileBytes);
    if (!pem) throw Refusal("cannot read the signing key " + keyFile.string());
    auto signature = RuleManifestSignature::sign(manifest, *pem);
    if (!signature) throw Refusal(keyFile.string() + " is not an unencrypted Ed25519 private key in PEM");
    return std::move(*signature);
}

// The version names a folder on the origin, so it must be one plain path segment.
void checkVersion(std::string_view version) {
    if (text::trim(version).empty() || version.find('/') != std::string_view::npos ||
        version.find("..") != std::string_view::npos || version != text::trim(version)) {
        throw Refusal("the version must be one word without \"/\" or \"..\"");
    }
}

// SOURCE_DATE_EPOCH (whole seconds since 1970), else the current time.
Date publicationTime() {
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
        const std::string_view text(epoch);
        std::int64_t seconds = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        if (error != std::errc{} || end != text.data() + text.size() || seconds < 0) {
            throw Refusal("SOURCE_DATE_EPOCH is not a number of seconds: " + std::string(text));
        }
        return Date(std::chrono::seconds(seconds));
    }
    return std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
}

// `bytes` as the text of a C++ string literal: printable ASCII as it is (the quote, the backslash
// and the question mark escaped), any other byte as a three-digit octal escape.
std::string literal(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\' || c == '?') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            out += '\\';
            out += static_cast<char>('0' + ((byte >> 6) & 7));
            out += static_cast<char>('0' + ((byte >> 3) & 7));
            out += static_cast<char>('0' + (byte & 7));
        }
    }
    return out + "\"sv";
}

// The table entries (see KnownPrefilters) of every pattern the matcher reads from the rule files'
// providers, in ascending order of pattern: the matcher is built over them, recording each reading.
std::string knownPrefilterEntries(const std::vector<RuleFile>& files) {
    InMemoryUserDefaults defaults;
    RulesEngine engine(defaults, {nullptr, nullptr, [](std::string_view) {}});
    if (!engine.loadRuleBundle(files[0].bytes, files[1].bytes)) throw Refusal("the rules do not load");
    std::vector<std::pair<std::string, RulePrefilter>> recorded;
    KnownPrefilters recorder;
    recorder.recordInto(&recorded);
    const RuleMatcher matcher(engine.compiledProviders(), engine.fallbackRules(), engine.categories(), recorder);
    std::sort(recorded.begin(), recorded.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string entries;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        if (i > 0 && recorded[i].first == recorded[i - 1].first) continue;
        if (const auto encoded = KnownPrefilters::encode(recorded[i].second))
            entries += "        {" + literal(recorded[i].first) + ", " + literal(*encoded) + "},\n";
    }
    return entries;
}

// The source of checkedShippedRuleFiles() and knownShippedPrefilters() (platform/paths/CheckedRuleFiles.h)
// for the folder's provider files that load whole.
std::string checkedRuleFilesSource(const std::vector<RuleFile>& files) {
    std::string digests;
    for (const auto& [kind, bytes] : files) {
        if (kind == Kind::commandGuard || !RulesEngine::loadsEveryPattern(bytes)) continue;
        char hex[17] = {};
        const std::uint64_t digest = contentDigest(bytes);
        (void)std::to_chars(hex, hex + 16, digest, 16);
        digests += "        0x" + std::string(hex) + "ULL,\n";
    }
    // The prefilters serve only loads of a checked file.
    const std::string prefilters = digests.empty() ? std::string() : knownPrefilterEntries(files);
    return "// Written by tessaril_publish_rules: the shipped rule files whose every pattern loads, and the\n"
           "// prefilters of the patterns the matcher reads from them.\n"
           "#include \"platform/paths/CheckedRuleFiles.h\"\n\n"
           "namespace tessaril {\n\n"
           "using namespace std::string_view_literals;\n\n"
           "std::span<const std::uint64_t> checkedShippedRuleFiles() {\n"
           "    static constexpr std::uint64_t digests[] = {\n" +
           digests +
           "        0};\n"
           "    return std::span(digests, std::size(digests) - 1);\n"
           "}\n\n"
           "std::span<const KnownPrefilter> knownShippedPrefilters() {\n"
           "    static constexpr KnownPrefilter prefilters[] = {\n" +
           prefilters +
           "        {}};\n"
           "    return std::span(prefilters, std::size(prefilters) - 1);\n"
           "}\n\n"
           "}  // namespace tessaril\n";
}

int run(const std::vector<std::string>& arguments) {
    if (arguments.size() == 3 && arguments[0] == "checked") {
        write(arguments[2], checkedRuleFilesSource(readRuleFiles(arguments[1])));
        return 0;
    }
    if (arguments.size() == 4 && arguments[0] == "shipped") {
        const auto files = readRuleFiles(arguments[1]);
        auto templateManifest = readTemplate(arguments[2]);
        templateManifest.publishedAt = publicationTime();
        checkVersion(templateManifest.currentVersion);
        const auto manifest =
            manifestOf(templateManifest, files, "/tessaril/rules/" + templateManifest.currentVersion + "/");
        write(arguments[3], manifest.encode());
        return 0;
    }
    if (arguments.size() == 7 && arguments[0] == "publish") {
        const auto channel = ruleUpdateChannel(arguments[4]);
        if (!channel) throw Refusal("the channel is \"stable\" or \"beta\"");
        checkVersion(arguments[3]);
        const auto files = readRuleFiles(arguments[1]);
        auto manifest = readTemplate(arguments[2]);
        manifest.currentVersion = arguments[3];
        manifest.publishedAt = publicationTime();
        const fs::path manifestFile(manifestPath(*channel));
        const std::string directory = manifestFile.parent_path().string() + "/" + arguments[3] + "/";
        manifest = manifestOf(std::move(manifest), files, directory);
        const std::string manifestBytes = manifest.encode();
        const std::string signature = signatureOf(manifestBytes, arguments[6]);
        // Files first: a client that sees the new manifest finds its files already there. One that
        // reads the manifest and signature between their two writes gets a mismatch and installs
        // nothing; its next check finds the pair whole.
        const fs::path root = arguments[5];
        for (const auto& file : files)
            write(root / directory.substr(1) / installedName(file.kind), file.bytes);
        write(root / manifestFile.relative_path(), manifestBytes);
        write(root / (manifestFile.relative_path().string() + std::string(RuleManifestSignature::fileSuffix)),
              signature);
        return 0;
    }
    std::cerr << "usage: tessaril_publish_rules shipped FOLDER TEMPLATE OUTPUT\n"
                 "       tessaril_publish_rules checked FOLDER OUTPUT\n"
                 "       tessaril_publish_rules publish FOLDER TEMPLATE VERSION stable|beta ORIGIN_ROOT KEY\n";
    return 2;
}

}  // namespace
}  // namespace tessaril

int main(int argc, char** argv) {
    try {
        return tessaril::run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "tessaril_publish_rules: " << error.what() << '\n';
        return 1;
    }
}
