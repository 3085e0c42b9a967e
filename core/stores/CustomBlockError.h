// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tessaril {

// Why an edit of the local parameter blocklist was refused. The preferences window and the tool
// show description() unchanged.
enum class CustomBlockError {
    invalidParameter,
    invalidSite,
    duplicate,
    limit,
    noUndo,
    conflict,
    // The list could not be encoded or the preferences store refused the write; nothing changed.
    storeFailed,
};

[[nodiscard]] std::string_view description(CustomBlockError error);

}  // namespace tessaril
