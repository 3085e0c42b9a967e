// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RuleBundleTransaction.h"

#include "core/foundation/Dates.h"

#include <exception>
#include <system_error>

namespace tessaril {

namespace fs = std::filesystem;

namespace {

void renameOrThrow(const fs::path& from, const fs::path& to) {
    fs::rename(from, to);
}

bool entryExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

}  // namespace

void RuleBundleTransaction::activate(const fs::path& staged, const fs::path& root,
                                     const std::function<void()>& beforeActivation, const Rename& rename) {
    const Rename move = rename ? rename : Rename(renameOrThrow);
    const fs::path active = root / activeName;
    const fs::path previous = root / previousName;
    const fs::path held = root / ("held-" + makeUuid());

    const bool hadPrevious = entryExists(previous);
    if (hadPrevious) move(previous, held);
    const bool hadActive = entryExists(active);
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
