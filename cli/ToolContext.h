// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>

#include "cli/ExitStatus.h"
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/UserDefaults.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"
#include "core/transform/PrivacyRedirectSettings.h"
#include "core/updates/RulesUpdater.h"
#include "platform/paths/XdgPaths.h"

namespace tessaril::cli {

// What every subcommand shares: the user's folders, their stored preferences (the same store the
// tray application uses) and, for the commands that need one, a rules engine with their switches and
// custom rules applied. The engine is made by loadRules(), so commands that only edit the user's
// lists never pay for (or fail on) the rules.
class ToolContext {
public:
    // How a command may use the user's stored preferences.
    enum class StoreAccess {
        readWrite,
        // Reads see the user's store as it was at the first read of each key; every write (match
        // counts, say) stays in memory for this run.
        readOnly,
    };

    explicit ToolContext(std::ostream& err, StoreAccess access = StoreAccess::readWrite);
    ~ToolContext();
    ToolContext(const ToolContext&) = delete;
    ToolContext& operator=(const ToolContext&) = delete;

    // For the tool's own process, which ends after its one command: a context's rules engine is then
    // left for the process's exit to reclaim instead of being freed block by block (a seventh of a
    // one-link run with the filter list). Tests, which make many contexts in one process, leave it off.
    static void leaveRulesToProcessExit();

    // The user's preferences; with read-only access, writes to it never reach the file.
    [[nodiscard]] UserDefaults& defaults() { return *defaults_; }

    // Runs `change` as one transaction of the preferences. Writes can fail unnoticed inside one, so
    // `change` answers whether what it wrote is there; when it is not, or the store cannot be
    // written, nothing is kept and the error stream says so.
    ExitStatus commit(const std::function<bool(UserDefaults&)>& change);

    // What the rules updater checks and installs through; both must outlive the context.
    struct UpdateNetwork {
        const StaticUpdateSession* session = nullptr;
        TaskExecutor* executor = nullptr;
        // Another channel's manifest for this run.
        std::optional<std::string> manifestURL;
        // The key manifests must be signed with; tests sign with their own.
        RuleSigningKey manifestKey = RuleManifestSignature::releaseKey;
    };

    // Loads `directory`/data.min.json (required) and `directory`/tessaril-supplementary.json (when
    // present), or, when no directory is given, the rules the tray application starts with (the
    // installed bundle, else the previous one, else a newer saved file, else the shipped rules),
    // with an updater that updates through `network`. On failure, says why on the error stream and
    // returns false.
    [[nodiscard]] bool loadRules(const std::optional<std::filesystem::path>& directory, const UpdateNetwork& network);
    [[nodiscard]] bool loadRules(const std::optional<std::filesystem::path>& directory) {
        return loadRules(directory, UpdateNetwork{});
    }

    // Only after loadRules() succeeded.
    [[nodiscard]] RulesEngine& engine() { return *engine_; }
    // Only after loadRules() without a directory succeeded: which rules are in use, and their updates.
    [[nodiscard]] const RulesUpdater& updater() const { return *updater_; }
    [[nodiscard]] RulesUpdater& updater() { return *updater_; }

    // A cleaner that cleans as the tray application does: the engine with the user's site
    // exceptions and blocklist, and the privacy rewrites of `settings`. Only after loadRules()
    // succeeded, and once.
    [[nodiscard]] URLCleaner& makeCleaner(PrivacyRedirectSettings settings);

private:
    std::ostream& err_;
    XdgPaths paths_;
    std::unique_ptr<UserDefaults> store_;
    // The store itself, or a memory overlay on it.
    std::unique_ptr<UserDefaults> defaults_;
    std::unique_ptr<RulesEngine> engine_;
    std::unique_ptr<RulesUpdater> updater_;
    std::unique_ptr<DomainExceptionStore> exceptions_;
    std::unique_ptr<CustomBlocklistStore> blocklist_;
    std::unique_ptr<URLCleaner> cleaner_;
};

}  // namespace tessaril::cli
