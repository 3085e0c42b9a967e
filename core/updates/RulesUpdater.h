// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/RulesEngine.h"
#include "core/foundation/Paths.h"
#include "core/foundation/ResourceBundle.h"
#include "core/foundation/Signal.h"
#include "core/foundation/UserDefaults.h"
#include "core/updates/RuleUpdateManifest.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// Keeps the application's rules current and decides which rules the engine uses. Installed rules
// live under the per-user data folder:
//   com.orvellelabs.tessaril/rules/active, …/previous   rule bundles (manifest.json, data.min.json,
//                                                         tessaril-supplementary.json and maybe
//                                                         command-guard-rules.json)
//   com.orvellelabs.tessaril/data.min.json               a rules file saved by earlier versions
//   com.quenby.tessaril/data.min.json                    the same from before the product's rename
// Everything runs on the main thread.
class RulesUpdater {
public:
    static constexpr std::string_view installedVersionKey = "rulesUpdater_installedVersion";
    static constexpr std::string_view installedCommandGuardVersionKey = "rulesUpdater_installedCommandGuardVersion";

    // Where the rules in use came from.
    enum class RulesSource { none, activeBundle, previousBundle, legacyFile, shipped };

    struct Environment {
        const Paths* paths = nullptr;
        // The shipped rules and their manifest; without it nothing shipped is found.
        const ResourceBundle* resources = nullptr;
        // Where installed bundles live; by default rulesRootURL(*paths).
        std::optional<std::filesystem::path> installedRulesRootURL;
        // Diagnostic lines; standard output when not set.
        std::function<void(std::string_view)> diagnostic;
    };

    // `paths` must be set. The engine, the defaults and what the environment points to must outlive
    // the updater. Reads the installed versions at once (stored, else from the files on disk).
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
    [[nodiscard]] const std::optional<std::string>& installedCommandGuardVersion() const {
        return installedCommandGuardVersion_;
    }

    // Copies the saved rules file from the pre-rename folder into the current one, once: only when
    // the current folder has none. A failure is reported on `diagnostic` (standard output when not
    // set) and tried again next time.
    static void migrateLegacyAppSupportRulesIfNeeded(const Paths& paths,
                                                     const std::function<void(std::string_view)>& diagnostic = {});

private:
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
    std::optional<std::string> installedCommandGuardVersion_;
};

// "active bundle", "previous bundle", "saved rules file", "shipped rules", "none".
[[nodiscard]] std::string_view description(RulesUpdater::RulesSource source);

}  // namespace tessaril
