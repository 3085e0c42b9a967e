// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tessaril::cli {

// Scripts branch on these, so they never change meaning.
enum class ExitStatus : int {
    success = 0,
    // The user's list refused the edit (the message says why).
    refused = 1,
    usage = 2,
    rulesUnreadable = 3,
    // Standard output could not be written (a closed pipe, a full disk); the results are incomplete.
    outputFailed = 4,
};

}  // namespace tessaril::cli
