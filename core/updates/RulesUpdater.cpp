// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RulesUpdater.h"

#include "core/foundation/Dates.h"
#include "core/foundation/FileContents.h"
#include "core/foundation/Sha256.h"
#include "core/foundation/Text.h"
#include "core/guard/CommandGuard.h"
#include "core/updates/RuleBundleTransaction.h"
#include "core/updates/RuleUpdateError.h"
#include "core/updates/VersionComparison.h"

#include <fstream>
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

constexpr std::string_view kCheckFailed = "Could not check for rule updates: ";

// Writes a temporary file beside `file` and renames it over, so no reader ever sees half a file.
// `step` hears of the write, then of the rename.
void writeAtomically(const fs::path& file, std::string_view bytes, const std::function<void(std::string_view)>& step) {
    const fs::path temporary = file.parent_path() / ("." + file.filename().string() + "-" + makeUuid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            throw fs::filesystem_error("cannot write", temporary, std::make_error_code(std::errc::io_error));
        }
    }
    step("write " + file.filename().string());
    fs::rename(temporary, file);
    step("rename " + file.filename().string());
}

bool isSuccess(int status) {
    return status >= 200 && status <= 299;
}

// The body of a successful answer, else nothing.
const std::string* successfulBody(const HttpsResult& result) {
    const auto* response = std::get_if<HttpsResponse>(&result);
    return response != nullptr && isSuccess(response->status) ? &response->body : nullptr;
}

}  // namespace

RulesUpdater::RulesUpdater(RulesEngine& rulesEngine, UserDefaults& defaults, Environment environment)
    : rulesEngine_(rulesEngine),
      defaults_(defaults),
      environment_(std::move(environment)),
      rootURL_(environment_.installedRulesRootURL.value_or(rulesRootURL(*environment_.paths))),
      proactivePreferences_(defaults) {
    if (defaults_.stringValue(selectedChannelKey) == "beta") selectedChannel_ = RuleUpdateChannel::beta;
    lastUpdateDate_ = defaults_.dateValue(lastUpdateKey);
    installedVersion_ = defaults_.stringValue(installedVersionKey);
    if (!installedVersion_) installedVersion_ = currentVersion(activeManifest());
    if (!installedVersion_) installedVersion_ = currentVersion(shippedManifest());

    installedCommandGuardVersion_ = defaults_.stringValue(installedCommandGuardVersionKey);
    commandGuardVersionKnown_ = installedCommandGuardVersion_.has_value();
}

const std::optional<std::string>& RulesUpdater::installedCommandGuardVersion() const {
    if (commandGuardVersionKnown_) return installedCommandGuardVersion_;
    commandGuardVersionKnown_ = true;
    if (const auto data = readFileContents(CommandGuard::defaultInstalledRulesURL(*environment_.paths))) {
        installedCommandGuardVersion_ = CommandGuard::ruleBundleVersion(*data);
    }
    if (!installedCommandGuardVersion_) {
        installedCommandGuardVersion_ = CommandGuard::rulesVersionOf(environment_.resources, environment_.paths);
    }
    return installedCommandGuardVersion_;
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

// --- Checking

void RulesUpdater::checkForUpdates(bool automatic) {
    if (updateStatus_.isBusy()) return;
    availableManifest_.reset();
    setStatus(RulesUpdateStatus::CheckingManifest{});
    if (environment_.session == nullptr || environment_.executor == nullptr) {
        setStatus(RulesUpdateStatus::Failed{std::string(kCheckFailed) +
                                            std::string(description(HttpsError::connectionFailed))});
        return;
    }
    const RuleUpdateChannel channel = selectedChannel_;
    HttpsRequest request = StaticUpdateSession::request(environment_.manifestURL.value_or(manifestURL(channel)));
    request.idleTimeout = manifestTimeout;
    // No cache exists on the way to keep an old manifest: the client keeps none.
    const StaticUpdateSession& session = *environment_.session;
    runInBackgroundThen(
        *environment_.executor,
        [&session, request = std::move(request)]() mutable {
            ManifestAnswer answer{session.boundedData(request, RuleUpdateManifest::maximumManifestBytes), {}};
            if (successfulBody(answer.manifest) != nullptr) {
                // Beside the manifest as served, after any redirect within the origin.
                request.url =
                    std::get<HttpsResponse>(answer.manifest).url + std::string(RuleManifestSignature::fileSuffix);
                answer.signature = session.boundedData(std::move(request), RuleManifestSignature::maximumFileBytes);
            }
            return answer;
        },
        [this, alive = std::weak_ptr<const bool>(alive_), channel, automatic](const ManifestAnswer& answer) {
            if (alive.expired()) return;
            if (selectedChannel_ != channel) {
                setStatus(RulesUpdateStatus::Idle{});
                return;
            }
            handleManifestResponse(answer);
            if (automatic && automaticInstallAllowed()) installAvailableUpdate(true);
        });
}

void RulesUpdater::handleManifestResponse(const ManifestAnswer& answer) {
    const auto fail = [this](std::string message) { setStatus(RulesUpdateStatus::Failed{std::move(message)}); };
    if (const auto* error = std::get_if<HttpsError>(&answer.manifest)) {
        return fail(std::string(kCheckFailed) + std::string(description(*error)));
    }
    const auto& response = std::get<HttpsResponse>(answer.manifest);
    if (!isSuccess(response.status)) return fail(std::string(kCheckFailed) + "HTTP " + std::to_string(response.status));
    if (response.body.empty()) return fail(std::string(kCheckFailed) + "empty manifest");
    if (response.body.size() > RuleUpdateManifest::maximumManifestBytes) {
        return fail("Static rule manifest exceeds size limit");
    }
    // A signature that is missing, unreadable or wrong counts as a file that failed its check.
    const std::string* signature = answer.signature ? successfulBody(*answer.signature) : nullptr;
    if (signature == nullptr || !RuleManifestSignature::verify(response.body, *signature, environment_.manifestKey)) {
        return fail(RuleUpdateError(RuleUpdateError::Kind::hashMismatch,
                                    std::string(kManifestName) + std::string(RuleManifestSignature::fileSuffix))
                        .errorDescription());
    }
    auto manifest = RuleUpdateManifest::decode(response.body);
    if (!manifest) return fail("The rules manifest is not in the correct format.");
    try {
        manifest->validate(RuleUpdateManifest::supportedSchemaVersion);
        if (manifest->minAppVersion && compareVersions(environment_.appVersion, *manifest->minAppVersion) < 0) {
            throw RuleUpdateError(RuleUpdateError::Kind::incompatibleAppVersion, *manifest->minAppVersion);
        }
    } catch (const RuleUpdateError& error) {
        return fail(error.errorDescription());
    }
    const std::string installed = comparedInstalledVersion();
    if (localizedStandardCompare(manifest->currentVersion, installed) > 0) {
        availableManifest_ = manifest;
        setStatus(RulesUpdateStatus::UpdateAvailable{std::move(*manifest)});
    } else {
        setStatus(RulesUpdateStatus::UpToDate{installed});
    }
}

std::string RulesUpdater::comparedInstalledVersion() const {
    if (installedVersion_) return *installedVersion_;
    if (auto version = currentVersion(activeManifest())) return std::move(*version);
    return currentVersion(shippedManifest()).value_or("0");
}

// --- Installing

void RulesUpdater::installAvailableUpdate(bool automatic) {
    if (!availableManifest_ || updateStatus_.isBusy()) return;
    if (automatic && !automaticInstallAllowed()) return;
    const RuleUpdateChannel channel = selectedChannel_;
    setStatus(RulesUpdateStatus::Downloading{});
    if (environment_.session == nullptr || environment_.executor == nullptr) {
        setStatus(RulesUpdateStatus::Failed{std::string(description(HttpsError::connectionFailed))});
        return;
    }
    const StaticUpdateSession& session = *environment_.session;
    runInBackgroundThen(
        *environment_.executor,
        [&session, manifest = *availableManifest_] { return downloadAndValidateFiles(session, manifest); },
        [this, alive = std::weak_ptr<const bool>(alive_), manifest = *availableManifest_, channel,
         automatic](const Download& download) {
            if (!alive.expired()) finishInstall(download, manifest, channel, automatic);
        });
}

RulesUpdater::Download RulesUpdater::downloadAndValidateFiles(const StaticUpdateSession& session,
                                                              const RuleUpdateManifest& manifest) {
    using Kind = RuleUpdateManifest::File::Kind;
    if (!manifest.clearURLsFile())
        return RuleUpdateError(RuleUpdateError::Kind::missingFile, std::string(installedName(Kind::clearurls)))
            .errorDescription();
    if (!manifest.supplementaryFile()) {
        return RuleUpdateError(RuleUpdateError::Kind::missingFile,
                               std::string(installedName(Kind::tessarilSupplementary)))
            .errorDescription();
    }
    try {
        DownloadedRuleFiles files;
        files.clearURLsData = download(session, *manifest.clearURLsFile());
        files.supplementaryData = download(session, *manifest.supplementaryFile());
        if (const auto* commandGuard = manifest.commandGuardFile()) {
            files.commandGuardData = download(session, *commandGuard);
        }
        files.manifestData = manifest.encode();
        return files;
    } catch (const std::runtime_error& error) {
        return std::string(error.what());
    }
}

std::string RulesUpdater::download(const StaticUpdateSession& session, const RuleUpdateManifest::File& file) {
    using Error = RuleUpdateError;
    if (!StaticUpdateSession::allowed(file.url)) throw Error(Error::Kind::invalidRules, "Invalid static rule origin");
    const HttpsResult result = session.boundedData(StaticUpdateSession::request(file.url),
                                                   static_cast<std::size_t>(RuleUpdateManifest::maximumFileBytes));
    if (const auto* error = std::get_if<HttpsError>(&result)) {
        if (*error == HttpsError::tooLarge) throw Error(Error::Kind::invalidRules, "Rule file exceeds size limit");
        throw std::runtime_error(std::string(description(*error)));
    }
    const auto& response = std::get<HttpsResponse>(result);
    if (!isSuccess(response.status)) {
        throw Error(Error::Kind::network, "HTTP " + std::to_string(response.status) + " for " + file.path);
    }
    if (file.bytes && static_cast<std::int64_t>(response.body.size()) != *file.bytes) {
        throw Error(Error::Kind::invalidRules, "Unexpected byte count for " + file.path);
    }
    if (sha256Hex(response.body) != text::asciiLower(file.sha256)) throw Error(Error::Kind::hashMismatch, file.path);
    return response.body;
}

void RulesUpdater::finishInstall(const Download& download, const RuleUpdateManifest& manifest,
                                 RuleUpdateChannel channel, bool automatic) {
    using Error = RuleUpdateError;
    const auto* files = std::get_if<DownloadedRuleFiles>(&download);
    if (!files) {
        setStatus(RulesUpdateStatus::Failed{std::get<std::string>(download)});
        return;
    }
    try {
        setStatus(RulesUpdateStatus::Validating{});
        if (auto problem = RulesEngine::validateRuleBundle(defaults_, files->clearURLsData, files->supplementaryData)) {
            throw Error(Error::Kind::invalidRules, std::move(*problem));
        }
        std::optional<std::string> commandGuardVersion;
        if (files->commandGuardData) {
            commandGuardVersion = CommandGuard::ruleBundleVersion(*files->commandGuardData);
            if (!commandGuardVersion) throw Error(Error::Kind::invalidRules, "Command Guard rules were invalid.");
        }
        // The user may have moved to the other channel, or withdrawn consent, while the files came in.
        if (selectedChannel_ != channel || (automatic && !automaticInstallAllowed())) {
            setStatus(RulesUpdateStatus::Idle{});
            return;
        }
        setStatus(RulesUpdateStatus::Installing{});
        install(*files);
        rulesEngine_.loadRuleBundle(files->clearURLsData, files->supplementaryData);
        loadedSource_ = RulesSource::activeBundle;

        const SystemClock systemClock;
        const Date now = (environment_.clock != nullptr ? *environment_.clock : systemClock).now();
        lastUpdateDate_ = now;
        availableManifest_.reset();
        defaults_.set(lastUpdateKey, now);
        reached("store the update date");
        defaults_.set(installedVersionKey, manifest.currentVersion);
        reached("store the rules version");
        setInstalledVersion(manifest.currentVersion);
        if (commandGuardVersion) {
            defaults_.set(installedCommandGuardVersionKey, *commandGuardVersion);
            reached("store the Command Guard version");
            setInstalledCommandGuardVersion(commandGuardVersion);
        }
        setStatus(RulesUpdateStatus::Installed{manifest.currentVersion, now});
    } catch (const Error& error) {
        setStatus(RulesUpdateStatus::Failed{error.errorDescription()});
    }
}

void RulesUpdater::install(const DownloadedRuleFiles& files) const {
    using Kind = RuleUpdateManifest::File::Kind;
    fs::path staged;
    try {
        const auto step = [this](std::string_view name) { reached(name); };
        staged = RuleBundleTransaction::stage(rootURL_);
        reached("create the staging folder");
        writeAtomically(staged / kManifestName, files.manifestData, step);
        writeAtomically(staged / installedName(Kind::clearurls), files.clearURLsData, step);
        writeAtomically(staged / installedName(Kind::tessarilSupplementary), files.supplementaryData, step);
        // A release without Command Guard rules keeps the ones in use, so they move into the new bundle.
        std::optional<std::string> commandGuard = files.commandGuardData;
        if (!commandGuard) commandGuard = readFileContents(CommandGuard::defaultInstalledRulesURL(*environment_.paths));
        if (commandGuard && CommandGuard::ruleBundleVersion(*commandGuard)) {
            writeAtomically(staged / installedName(Kind::commandGuard), *commandGuard, step);
        }
        RuleBundleTransaction::activate(staged, rootURL_, {}, [this](const fs::path& from, const fs::path& to) {
            fs::rename(from, to);
            reached("move " + from.filename().string() + " to " + to.filename().string());
        });
    } catch (const fs::filesystem_error& error) {
        std::error_code ignored;
        if (!staged.empty()) fs::remove_all(staged, ignored);
        throw RuleUpdateError(RuleUpdateError::Kind::fileSystem, error.code().message());
    }
}

void RulesUpdater::reached(std::string_view step) const {
    if (environment_.installStep) environment_.installStep(step);
}

bool RulesUpdater::automaticInstallAllowed() const {
    return proactivePreferences_.dailyRules() && proactivePreferences_.automaticInstall();
}

void RulesUpdater::setSelectedChannel(RuleUpdateChannel channel) {
    defaults_.set(selectedChannelKey, std::string(rawValue(channel)));
    selectedChannel_ = channel;
    availableManifest_.reset();
    if (std::holds_alternative<RulesUpdateStatus::UpdateAvailable>(updateStatus_.state())) {
        setStatus(RulesUpdateStatus::Idle{});
    }
}

void RulesUpdater::setStatus(RulesUpdateStatus status) {
    if (status == updateStatus_) return;
    updateStatus_ = std::move(status);
    updateStatusChanged_.emit();
}

void RulesUpdater::setInstalledCommandGuardVersion(std::optional<std::string> version) {
    // Not read yet, the old version is not worth reading for the comparison (the new file may
    // already be in its place): listeners hear of the change either way.
    if (commandGuardVersionKnown_ && version == installedCommandGuardVersion_) return;
    commandGuardVersionKnown_ = true;
    installedCommandGuardVersion_ = std::move(version);
    installedCommandGuardVersionChanged_.emit();
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
