// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/RulesEngine.h"
#include "core/foundation/Clock.h"
#include "core/foundation/HttpsClient.h"
#include "core/foundation/Paths.h"
#include "core/foundation/ResourceBundle.h"
#include "core/foundation/Signal.h"
#include "core/foundation/TaskExecutor.h"
#include "core/foundation/UserDefaults.h"
#include "core/preferences/ProactivePreferences.h"
#include "core/updates/RuleManifestSignature.h"
#include "core/updates/RuleUpdateChannel.h"
#include "core/updates/RuleUpdateManifest.h"
#include "core/updates/RulesUpdateStatus.h"
#include "core/updates/StaticUpdateSession.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tessaril {

// Keeps the application's rules current and decides which rules the engine uses. Installed rules
// live under the per-user data folder:
//   com.orvellelabs.tessaril/rules/active, …/previous   rule bundles (manifest.json, data.min.json,
//                                                         tessaril-supplementary.json and maybe
//                                                         command-guard-rules.json)
//   com.orvellelabs.tessaril/data.min.json               a rules file saved by earlier versions
//   com.quenby.tessaril/data.min.json                    the same from before the product's rename
// Updates come from the static update origin only: the selected channel's manifest and its signature
// (see RuleManifestSignature), then the files it names, each checked for size and SHA-256 digest, the bundle validated
// by the engine, written to a staging folder and swapped in whole. Everything runs on the main thread; only the
// transfers run in the background, and their results come back through the executor's main thread.
class RulesUpdater {
public:
    static constexpr std::string_view lastUpdateKey = "rulesUpdater_lastUpdateDate";
    static constexpr std::string_view installedVersionKey = "rulesUpdater_installedVersion";
    static constexpr std::string_view installedCommandGuardVersionKey = "rulesUpdater_installedCommandGuardVersion";
    static constexpr std::string_view selectedChannelKey = "rulesUpdater_selectedChannel";
    // The manifest request's time-out: longer than the session's own, for slow links.
    static constexpr std::chrono::seconds manifestTimeout{60};

    // Where the rules in use came from.
    enum class RulesSource { none, activeBundle, previousBundle, legacyFile, shipped };

    struct Environment {
        const Paths* paths = nullptr;
        // The shipped rules and their manifest; without it nothing shipped is found.
        const ResourceBundle* resources = nullptr;
        // Where installed bundles live; by default rulesRootURL(*paths).
        std::optional<std::filesystem::path> installedRulesRootURL{};
        // Diagnostic lines; standard output when not set.
        std::function<void(std::string_view)> diagnostic{};
        // Checks and installs need both; without them they end at once in a failed status.
        const StaticUpdateSession* session = nullptr;
        TaskExecutor* executor = nullptr;
        // Replaces the channel's manifest address for every check.
        std::optional<std::string> manifestURL{};
        // The running application's version, for a manifest's "minAppVersion".
        std::string appVersion = "0.0.0";
        // The time an installation is dated; the system clock when not set.
        const Clock* clock = nullptr;
        // The key every fetched manifest must be signed with. Only tests set another.
        RuleSigningKey manifestKey = RuleManifestSignature::releaseKey;
        // Told the name of each step of an install that changes the disk or the store, just after
        // it; lets a test stop an install between any two of them. Not set in the product.
        std::function<void(std::string_view step)> installStep{};
    };

    // `paths` must be set. The engine, the defaults and what the environment points to must outlive
    // the updater. Reads the stored state at once: the channel, the last update date and the
    // installed versions (stored, else from the files on disk).
    RulesUpdater(RulesEngine& rulesEngine, UserDefaults& defaults, Environment environment);
    RulesUpdater(const RulesUpdater&) = delete;
    RulesUpdater& operator=(const RulesUpdater&) = delete;

    // --- Layout.
    [[nodiscard]] static std::filesystem::path rulesRootURL(const Paths& paths);
    [[nodiscard]] static std::filesystem::path activeRulesDirectoryURL(const Paths& paths);
    [[nodiscard]] static std::filesystem::path previousRulesDirectoryURL(const Paths& paths);
    // The saved rules file of earlier versions, after copying it over from the pre-rename folder
    // when only that one has it (see migrateLegacyAppSupportRulesIfNeeded).
    [[nodiscard]] static std::filesystem::path appSupportRulesURL(
        const Paths& paths, const std::function<void(std::string_view)>& diagnostic = {});
    [[nodiscard]] const std::filesystem::path& installedRulesRootURL() const { return rootURL_; }
    [[nodiscard]] std::filesystem::path activeRulesDirectoryURL() const;
    [[nodiscard]] std::filesystem::path previousRulesDirectoryURL() const;

    // The active bundle's manifest as stored (decoded, not validated), when it reads and decodes.
    [[nodiscard]] std::optional<RuleUpdateManifest> activeManifest() const;
    [[nodiscard]] static std::optional<RuleUpdateManifest> activeManifest(const Paths& paths);
    // The manifest that describes the shipped rules.
    [[nodiscard]] std::optional<RuleUpdateManifest> shippedManifest() const;

    // --- Start-up. Loads into the engine the first of: the active bundle, the previous bundle, the
    // saved rules file of earlier versions when it is newer than the shipped rules (with the
    // shipped supplementary rules), the shipped rules. A candidate that fails in any way is passed
    // over silently; the live rules change only for a candidate that loads whole.
    void loadPreferringAppSupport();
    [[nodiscard]] RulesSource loadedSource() const { return loadedSource_; }

    // --- Observable state.
    // The version of the URL rules in use, when known.
    [[nodiscard]] const std::optional<std::string>& installedVersion() const { return installedVersion_; }
    [[nodiscard]] Signal<>& installedVersionChanged() { return installedVersionChanged_; }
    // Read from the rule files on first asking, when the preferences do not name it: cleaning a
    // link never asks, and need not parse Command Guard's rules for it.
    [[nodiscard]] const std::optional<std::string>& installedCommandGuardVersion() const;
    // The application rebuilds its Command Guard when this changes.
    [[nodiscard]] Signal<>& installedCommandGuardVersionChanged() { return installedCommandGuardVersionChanged_; }
    [[nodiscard]] const RulesUpdateStatus& updateStatus() const { return updateStatus_; }
    [[nodiscard]] Signal<>& updateStatusChanged() { return updateStatusChanged_; }
    // The manifest of an update found by the last check and not installed yet.
    [[nodiscard]] const std::optional<RuleUpdateManifest>& availableManifest() const { return availableManifest_; }
    [[nodiscard]] const std::optional<Date>& lastUpdateDate() const { return lastUpdateDate_; }
    [[nodiscard]] RuleUpdateChannel selectedChannel() const { return selectedChannel_; }
    // Stores the channel and drops an update found on the other one. A check or install under way
    // notices the change when its transfer returns and drops its result.
    void setSelectedChannel(RuleUpdateChannel channel);
    // The opt-in switches that decide automatic checks and installs.
    [[nodiscard]] ProactivePreferences& proactivePreferences() { return proactivePreferences_; }

    // --- Updating. Both return at once and do nothing while a check or install is under way.
    // Fetches the channel's manifest and ends in updateAvailable, upToDate or failed. An automatic
    // check installs what it found when the user opted in to daily checks and automatic installs.
    void checkForUpdates(bool automatic);
    // Downloads, verifies and installs availableManifest, then loads it into the engine. An
    // automatic install needs both opt-ins, at the start and again before anything is written.
    void installAvailableUpdate(bool automatic);

    // Copies the saved rules file from the pre-rename folder into the current one, once: only when
    // the current folder has none. A failure is reported on `diagnostic` (standard output when not
    // set) and tried again next time.
    static void migrateLegacyAppSupportRulesIfNeeded(const Paths& paths,
                                                     const std::function<void(std::string_view)>& diagnostic = {});

private:
    // The files of one release, as downloaded and checked, with the manifest re-encoded.
    struct DownloadedRuleFiles {
        std::string clearURLsData;
        std::string supplementaryData;
        std::optional<std::string> commandGuardData;
        std::string manifestData;
    };
    // The files, or the text of the first failure.
    using Download = std::variant<DownloadedRuleFiles, std::string>;

    // The manifest's answer and, when it was a success, the answer for its signature.
    struct ManifestAnswer {
        HttpsResult manifest;
        std::optional<HttpsResult> signature;
    };

    void handleManifestResponse(const ManifestAnswer& answer);
    // The version a fetched one is compared with: the one in use, else the active bundle's, else
    // the shipped one's, else "0".
    [[nodiscard]] std::string comparedInstalledVersion() const;
    // Blocks on the network: runs in the background and touches no state of the updater.
    [[nodiscard]] static Download downloadAndValidateFiles(const StaticUpdateSession& session,
                                                           const RuleUpdateManifest& manifest);
    [[nodiscard]] static std::string download(const StaticUpdateSession& session, const RuleUpdateManifest::File& file);
    // On the main thread, once the files are in.
    void finishInstall(const Download& download, const RuleUpdateManifest& manifest, RuleUpdateChannel channel,
                       bool automatic);
    // Writes the bundle into a staging folder and makes it the active one; throws RuleUpdateError.
    void install(const DownloadedRuleFiles& files) const;
    void reached(std::string_view step) const;
    [[nodiscard]] bool automaticInstallAllowed() const;
    void setStatus(RulesUpdateStatus status);
    void setInstalledCommandGuardVersion(std::optional<std::string> version);
    // Loads one bundle directory whole into the engine, or changes nothing and returns false.
    bool loadBundle(const std::filesystem::path& directory);
    // Whether the saved rules file of earlier versions is newer than the shipped rules file.
    [[nodiscard]] bool isSavedNewerThanBundle(const std::filesystem::path& savedFile) const;
    void setInstalledVersion(std::optional<std::string> version);

    RulesEngine& rulesEngine_;
    UserDefaults& defaults_;
    Environment environment_;
    std::filesystem::path rootURL_;
    RulesSource loadedSource_ = RulesSource::none;
    std::optional<std::string> installedVersion_;
    Signal<> installedVersionChanged_;
    mutable std::optional<std::string> installedCommandGuardVersion_;
    mutable bool commandGuardVersionKnown_ = false;
    Signal<> installedCommandGuardVersionChanged_;
    ProactivePreferences proactivePreferences_;
    RuleUpdateChannel selectedChannel_ = RuleUpdateChannel::stable;
    std::optional<Date> lastUpdateDate_;
    std::optional<RuleUpdateManifest> availableManifest_;
    RulesUpdateStatus updateStatus_;
    Signal<> updateStatusChanged_;
    // Background work holds this weakly: once the updater is gone, its results are dropped.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

// "active bundle", "previous bundle", "saved rules file", "shipped rules", "none".
[[nodiscard]] std::string_view description(RulesUpdater::RulesSource source);

}  // namespace tessaril
