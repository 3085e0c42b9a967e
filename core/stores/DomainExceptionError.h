// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

namespace tessaril {

// Why an edit of the site exceptions was not made; nothing changed. The tool shows description()
// unchanged, and so can the app.
enum class DomainExceptionError {
    // Not a host name the lists accept (see canonicalHostName), nor a web link with one.
    invalidHost,
    // The preferences store refused the write.
    storeFailed,
};

[[nodiscard]] std::string_view description(DomainExceptionError error);

}  // namespace tessaril
