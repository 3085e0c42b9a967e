// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>

namespace tessaril {

// Makes a fully written rule bundle the active one, keeping the bundle it replaces as "previous"
// (the one start-up falls back to), so that a bundle is only ever used whole. Every step is a
// rename inside the rules root, atomic on one file system; a failure puts the renamed directories
// back, so the pair (active, previous) is as it was, or the error of the undo that failed is thrown.
class RuleBundleTransaction {
public:
    // Renames `from` to `to`, throwing std::filesystem::filesystem_error on failure. Replaceable so
    // that a test can make any chosen step fail.
    using Rename = std::function<void(const std::filesystem::path& from, const std::filesystem::path& to)>;

    static constexpr const char* activeName = "active";
    static constexpr const char* previousName = "previous";

    // Makes an empty root/"staged-<UUID>" for a new bundle, first deleting the staged and held
    // directories an install that was killed part way left behind. Throws filesystem_error. Only
    // one install runs at a time for a root: one running beside it may find its staging gone and fail.
    [[nodiscard]] static std::filesystem::path stage(const std::filesystem::path& root);

    // When there is an active bundle, moves root/previous aside to root/"held-<UUID>" and
    // root/active to root/previous; without one, the previous bundle (the one start-up falls back
    // to) stays. Then runs `beforeActivation`, moves `staged` to root/active and deletes the held
    // directory. Any failure (a throw from `beforeActivation` included) undoes the moves already
    // made and rethrows. On failure `staged` is left where it was, for the caller to remove.
    static void activate(const std::filesystem::path& staged, const std::filesystem::path& root,
                         const std::function<void()>& beforeActivation = {}, const Rename& rename = {});
};

}  // namespace tessaril
