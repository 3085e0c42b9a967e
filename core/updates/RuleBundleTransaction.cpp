// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RuleBundleTransaction.h"

#include "core/foundation/Dates.h"

#include <exception>
#include <string_view>
#include <system_error>
#include <vector>

namespace tessaril {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kStagedPrefix = "staged-";
constexpr std::string_view kHeldPrefix = "held-";

void renameOrThrow(const fs::path& from, const fs::path& to) {
    fs::rename(from, to);
}

bool entryExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

}  // namespace

fs::path RuleBundleTransaction::stage(const fs::path& root) {
    fs::create_directories(root);
    std::vector<fs::path> leftovers;
    for (const auto& entry : fs::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(kStagedPrefix) || name.starts_with(kHeldPrefix)) leftovers.push_back(entry.path());
    }
    for (const auto& leftover : leftovers)
        fs::remove_all(leftover);
    fs::path staged = root / (std::string(kStagedPrefix) + makeUuid());
    fs::create_directory(staged);
    return staged;
}

void RuleBundleTransaction::activate(const fs::path& staged, const fs::path& root,
                                     const std::function<void()>& beforeActivation, const Rename& rename) {
    const Rename move = rename ? rename : Rename(renameOrThrow);
    const fs::path active = root / activeName;
    const fs::path previous = root / previousName;
    const fs::path held = root / (std::string(kHeldPrefix) + makeUuid());

    const bool hadActive = entryExists(active);
    const bool hadPrevious = hadActive && entryExists(previous);
    if (hadPrevious) move(previous, held);
    if (hadActive) {
        try {
            move(active, previous);
        } catch (...) {
            if (hadPrevious) move(held, previous);
            throw;
        }
    }

    try {
        if (beforeActivation) beforeActivation();
        move(staged, active);
    } catch (...) {
        // The first undo that fails ends the rollback, and its error replaces the original one.
        const std::exception_ptr cause = std::current_exception();
        if (hadActive) move(previous, active);
        if (hadPrevious) move(held, previous);
        std::rethrow_exception(cause);
    }
    if (hadPrevious) {
        std::error_code ignored;
        fs::remove_all(held, ignored);
    }
}

}  // namespace tessaril
