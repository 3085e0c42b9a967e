// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stores/CustomBlockError.h"

namespace tessaril {

std::string_view description(CustomBlockError error) {
    switch (error) {
        case CustomBlockError::invalidParameter:
            return "Use an exact parameter name, 1 to 64 ASCII letters, digits, _, ., ~ or -. No patterns or values.";
        case CustomBlockError::invalidSite:
            return "Enter an exact hostname such as example.com, without a URL, port, path or wildcard.";
        case CustomBlockError::duplicate:
            return "This rule already exists. A global rule also covers every site.";
        case CustomBlockError::limit:
            return "The local blocklist is limited to 256 rules.";
        case CustomBlockError::noUndo:
            return "There is no blocklist change to undo.";
        case CustomBlockError::conflict:
            return "The blocklist changed elsewhere. Refresh before editing.";
        case CustomBlockError::storeFailed:
            return "The blocklist could not be saved.";
    }
    return "The blocklist could not be saved.";
}

}  // namespace tessaril
