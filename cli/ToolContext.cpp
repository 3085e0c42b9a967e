// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/ToolContext.h"

#include <chrono>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "core/foundation/FileContents.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/OverlayUserDefaults.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/paths/CoreResources.h"

namespace tessaril::cli {

namespace fs = std::filesystem;

namespace {

// One sentence, whatever the command: the user's settings are not what they were.
void reportDamage(std::ostream& err, const SqliteUserDefaults::Damage& damage, bool readOnly) {
    err << "tessaril: the settings file " << damage.file.string();
    if (!damage.movedTo.empty()) {
        err << " was damaged and has been moved to " << damage.movedTo.string()
            << ", so the default settings apply from now on\n";
    } else if (readOnly) {
        err << " is damaged, so the default settings are used; the next command that changes a setting will"
               " move it aside\n";
    } else {
        err << " is damaged and could not be moved aside, so the default settings are used and no change can"
               " be saved\n";
    }
}

// Set once by the tool's main(); see leaveRulesToProcessExit.
bool rulesLeftToExit = false;

}  // namespace

void ToolContext::leaveRulesToProcessExit() {
    rulesLeftToExit = true;
}

ToolContext::~ToolContext() {
    if (!rulesLeftToExit || !engine_) return;
    // What refers to the engine goes first, as it would anyway; the engine itself refers to nothing
    // that outlives the context but the settings, which it no longer touches.
    cleaner_.reset();
    blocklist_.reset();
    exceptions_.reset();
    updater_.reset();
    // Reachable from here until the end, so leak checkers see it as kept, not lost.
    static auto* const kept = new std::vector<std::unique_ptr<RulesEngine>>();
    kept->push_back(std::move(engine_));
}

ToolContext::ToolContext(std::ostream& err, StoreAccess access) : err_(err) {
    SqliteUserDefaults::Options options;
    options.readOnly = access == StoreAccess::readOnly;
    // Scripts run the tool many times over, several at once: an edit had rather wait its turn than
    // fail. (The app keeps the store's shorter wait, which never leaves its window hanging for long.)
    options.busyTimeout = std::chrono::seconds(10);
    options.onDamage = [&err, readOnly = options.readOnly](const SqliteUserDefaults::Damage& damage) {
        reportDamage(err, damage, readOnly);
    };
    const fs::path file = defaultDefaultsFile(paths_);
    if (access == StoreAccess::readOnly) {
        // Read-only all the way down: not even a missing file or folder gets created, and a damaged
        // file stays where it is. Without a file there is nothing to read, and the store would look
        // for the file again on every read (several per link), so an empty store in memory stands
        // in for it.
        std::error_code error;
        if (fs::exists(file, error)) {
            store_ = SqliteUserDefaults::open(file, options);
        } else {
            store_ = std::make_unique<InMemoryUserDefaults>();
        }
        // A run sees the settings as they were at its first read of each: nothing per link goes
        // back to the database file.
        defaults_ = std::make_unique<OverlayUserDefaults>(*store_, OverlayUserDefaults::BaseReads::snapshot);
    } else {
        defaults_ = SqliteUserDefaults::open(file, options);
    }
}

ExitStatus ToolContext::commit(const std::function<bool(UserDefaults&)>& change) {
    if (defaults_->transaction(change)) return ExitStatus::success;
    err_ << "tessaril: nothing changed: the preferences store could not be written\n";
    return ExitStatus::refused;
}

bool ToolContext::loadRules(const std::optional<fs::path>& directory, const UpdateNetwork& network) {
    RulesEngineEnvironment environment;
    const auto& bundle = coreResources();
    environment.resources = bundle ? &*bundle : nullptr;
    environment.paths = &paths_;
    // Standard output carries the tool's results; diagnostics must never mix into them.
    environment.diagnostic = [this](std::string_view line) { err_ << line << '\n'; };
    auto diagnostic = environment.diagnostic;
    engine_ = std::make_unique<RulesEngine>(*defaults_, std::move(environment));
    if (!directory) {
        updater_ = std::make_unique<RulesUpdater>(*engine_, *defaults_,
                                                  RulesUpdater::Environment{.paths = &paths_,
                                                                            .resources = bundle ? &*bundle : nullptr,
                                                                            .diagnostic = diagnostic,
                                                                            .session = network.session,
                                                                            .executor = network.executor,
                                                                            .manifestURL = network.manifestURL,
                                                                            .appVersion = TESSARIL_VERSION,
                                                                            .manifestKey = network.manifestKey});
        updater_->loadPreferringAppSupport();
        if (updater_->loadedSource() != RulesUpdater::RulesSource::none) return true;
        err_ << "tessaril: the shipped rules could not be loaded\n";
        return false;
    }
    const fs::path mainFile = *directory / "data.min.json";
    const auto main = readFileContents(mainFile);
    if (!main) {
        err_ << "tessaril: cannot read " << mainFile.string() << '\n';
        return false;
    }
    const auto supplementary = readFileContents(*directory / "tessaril-supplementary.json");
    std::optional<std::string_view> supplementaryView;
    if (supplementary) supplementaryView = *supplementary;
    if (engine_->loadRuleBundle(*main, supplementaryView)) return true;
    err_ << "tessaril: " << mainFile.string() << " is not a rule file\n";
    return false;
}

URLCleaner& ToolContext::makeCleaner(PrivacyRedirectSettings settings) {
    exceptions_ = std::make_unique<DomainExceptionStore>(*defaults_);
    blocklist_ = std::make_unique<CustomBlocklistStore>(*defaults_);
    cleaner_ = std::make_unique<URLCleaner>(*engine_, exceptions_.get(), std::move(settings));
    cleaner_->setCustomBlocklist(blocklist_.get());
    return *cleaner_;
}

}  // namespace tessaril::cli
