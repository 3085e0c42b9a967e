// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RulesUpdater.h"

#include "core/foundation/FileContents.h"
#include "core/guard/CommandGuard.h"
#include "core/updates/RuleBundleTransaction.h"
#include "core/updates/RuleUpdateError.h"

#include <iostream>
#include <system_error>
#include <utility>

namespace tessaril {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kAppFolder = "com.orvellelabs.tessaril";
constexpr std::string_view kPreRenameAppFolder = "com.quenby.tessaril";
constexpr std::string_view kSavedRulesName = "data.min.json";
constexpr std::string_view kManifestName = "manifest.json";

void say(const std::function<void(std::string_view)>& diagnostic, std::string_view line) {
    if (diagnostic) {
        diagnostic(line);
    } else {
        std::cout << line << '\n' << std::flush;
    }
}

std::optional<RuleUpdateManifest> readManifest(const fs::path& file) {
    const auto data = readFileContents(file, RuleUpdateManifest::maximumManifestBytes);
    return data ? RuleUpdateManifest::decode(*data) : std::nullopt;
}

std::optional<std::string> currentVersion(const std::optional<RuleUpdateManifest>& manifest) {
    return manifest ? std::optional<std::string>(manifest->currentVersion) : std::nullopt;
}

std::optional<fs::file_time_type> modificationDate(const fs::path& file) {
    std::error_code error;
    const auto date = fs::last_write_time(file, error);
    if (error) return std::nullopt;
    return date;
}

}  // namespace

RulesUpdater::RulesUpdater(RulesEngine& rulesEngine, UserDefaults& defaults, Environment environment)
    : rulesEngine_(rulesEngine),
      defaults_(defaults),
      environment_(std::move(environment)),
      rootURL_(environment_.installedRulesRootURL.value_or(rulesRootURL(*environment_.paths))) {
    installedVersion_ = defaults_.stringValue(installedVersionKey);
    if (!installedVersion_) installedVersion_ = currentVersion(activeManifest());
    if (!installedVersion_) installedVersion_ = currentVersion(shippedManifest());

    installedCommandGuardVersion_ = defaults_.stringValue(installedCommandGuardVersionKey);
    if (!installedCommandGuardVersion_) {
        if (const auto data = readFileContents(CommandGuard::defaultInstalledRulesURL(*environment_.paths))) {
            installedCommandGuardVersion_ = CommandGuard::ruleBundleVersion(*data);
        }
    }
    if (!installedCommandGuardVersion_) {
        installedCommandGuardVersion_ = CommandGuard(environment_.resources, environment_.paths).rulesVersion();
    }
}

// --- Layout

fs::path RulesUpdater::rulesRootURL(const Paths& paths) {
    // Command Guard looks for its installed file in the same bundles.
    return CommandGuard::rulesRootURL(paths);
}

fs::path RulesUpdater::activeRulesDirectoryURL(const Paths& paths) {
    return rulesRootURL(paths) / RuleBundleTransaction::activeName;
}

fs::path RulesUpdater::previousRulesDirectoryURL(const Paths& paths) {
    return rulesRootURL(paths) / RuleBundleTransaction::previousName;
}

fs::path RulesUpdater::activeRulesDirectoryURL() const {
    return rootURL_ / RuleBundleTransaction::activeName;
}

fs::path RulesUpdater::previousRulesDirectoryURL() const {
    return rootURL_ / RuleBundleTransaction::previousName;
}

fs::path RulesUpdater::appSupportRulesURL(const Paths& paths, const std::function<void(std::string_view)>& diagnostic) {
    migrateLegacyAppSupportRulesIfNeeded(paths, diagnostic);
    return paths.applicationSupportDirectory() / kAppFolder / kSavedRulesName;
}

std::optional<RuleUpdateManifest> RulesUpdater::activeManifest() const {
    return readManifest(activeRulesDirectoryURL() / kManifestName);
}

std::optional<RuleUpdateManifest> RulesUpdater::activeManifest(const Paths& paths) {
    return readManifest(activeRulesDirectoryURL(paths) / kManifestName);
}

std::optional<RuleUpdateManifest> RulesUpdater::shippedManifest() const {
    if (environment_.resources == nullptr) return std::nullopt;
    const auto file = environment_.resources->url("manifest", "json");
    return file ? readManifest(*file) : std::nullopt;
}

void RulesUpdater::migrateLegacyAppSupportRulesIfNeeded(const Paths& paths,
                                                        const std::function<void(std::string_view)>& diagnostic) {
    const fs::path folder = paths.applicationSupportDirectory() / kAppFolder;
    const fs::path legacy = paths.applicationSupportDirectory() / kPreRenameAppFolder / kSavedRulesName;
    std::error_code error;
    if (fs::exists(folder / kSavedRulesName, error) || !fs::exists(legacy, error)) return;
    fs::create_directories(folder, error);
    if (!error) fs::copy_file(legacy, folder / kSavedRulesName, error);
    if (error) say(diagnostic, "RulesUpdater: legacy rules migration skipped \u2014 " + error.message());
}

// --- Start-up loading

void RulesUpdater::loadPreferringAppSupport() {
    if (loadBundle(activeRulesDirectoryURL())) {
        loadedSource_ = RulesSource::activeBundle;
        return;
    }
    if (loadBundle(previousRulesDirectoryURL())) {
        loadedSource_ = RulesSource::previousBundle;
        return;
    }
    const fs::path saved = appSupportRulesURL(*environment_.paths, environment_.diagnostic);
    if (const auto data = readFileContents(saved); data && isSavedNewerThanBundle(saved)) {
        std::optional<std::string> supplementary;
        if (environment_.resources != nullptr) {
            if (const auto file = environment_.resources->url("tessaril-supplementary", "json")) {
                supplementary = readFileContents(*file);
            }
        }
        // A saved file that is not a rule file is passed over like any other candidate that fails.
        if (rulesEngine_.loadRuleBundle(*data, supplementary)) {
            loadedSource_ = RulesSource::legacyFile;
            return;
        }
    }
    loadedSource_ = rulesEngine_.loadBundledRules() ? RulesSource::shipped : RulesSource::none;
    setInstalledVersion(currentVersion(shippedManifest()));
}

bool RulesUpdater::loadBundle(const fs::path& directory) {
    auto manifest = readManifest(directory / kManifestName);
    if (!manifest) return false;
    try {
        manifest->validate(RuleUpdateManifest::supportedSchemaVersion);
    } catch (const RuleUpdateError&) {
        return false;
    }
    const auto clearURLs = readFileContents(directory / installedName(RuleUpdateManifest::File::Kind::clearurls),
                                            RuleUpdateManifest::maximumFileBytes);
    const auto supplementary =
        readFileContents(directory / installedName(RuleUpdateManifest::File::Kind::tessarilSupplementary),
                         RuleUpdateManifest::maximumFileBytes);
    if (!clearURLs || !supplementary) return false;
    if (RulesEngine::validateRuleBundle(defaults_, *clearURLs, *supplementary)) return false;
    if (!rulesEngine_.loadRuleBundle(*clearURLs, *supplementary)) return false;
    setInstalledVersion(std::move(manifest->currentVersion));
    return true;
}

bool RulesUpdater::isSavedNewerThanBundle(const fs::path& savedFile) const {
    const auto saved = modificationDate(savedFile);
    if (!saved) return false;
    const auto shippedFile =
        environment_.resources != nullptr ? environment_.resources->url("data.min", "json") : std::nullopt;
    if (!shippedFile) return true;
    const auto shipped = modificationDate(*shippedFile);
    return !shipped || *saved > *shipped;
}

void RulesUpdater::setInstalledVersion(std::optional<std::string> version) {
    if (version == installedVersion_) return;
    installedVersion_ = std::move(version);
    installedVersionChanged_.emit();
}

std::string_view description(RulesUpdater::RulesSource source) {
    switch (source) {
        case RulesUpdater::RulesSource::activeBundle:
            return "active bundle";
        case RulesUpdater::RulesSource::previousBundle:
            return "previous bundle";
        case RulesUpdater::RulesSource::legacyFile:
            return "saved rules file";
        case RulesUpdater::RulesSource::shipped:
            return "shipped rules";
        case RulesUpdater::RulesSource::none:
            break;
    }
    return "none";
}

}  // namespace tessaril
