// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tessaril::cli {

// Scripts branch on these, so they never change meaning.
enum class ExitStatus : int {
    success = 0,
    // The user's list refused the edit (the message says why).
    refused = 1,
    // `guard`: the text is risky, so `tessaril guard "$cmd" && eval "$cmd"` only runs what passed.
    risky = 1,
    // `rules check`, `app-update check`: a newer rules or application release is available.
    updateAvailable = 1,
    usage = 2,
    rulesUnreadable = 3,
    // `rules check`, `rules update`, `app-update check`: the check or the installation failed.
    updateFailed = 3,
    // Standard output could not be written (a closed pipe, a full disk); the results are incomplete.
    outputFailed = 4,
    // `guard`: the text is longer than Command Guard examines; it was neither passed nor flagged.
    // `neutralize`: standard input is longer than it reads; nothing was printed.
    textNotExamined = 5,
};

}  // namespace tessaril::cli
