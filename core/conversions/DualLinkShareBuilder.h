// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/CleanResult.h"

#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// A plain-text message carrying a link both on its own site and on the privacy front end it was
// rewritten to, so that whoever receives it can choose.
class DualLinkShareBuilder {
public:
    // For a result that was rewritten to a front end: the Reddit post's title when the site link is
    // one (then `context` is left out), the site link, otherwise the context when it is not blank,
    // an empty line and "Privacy link: " with the front-end link; lines joined by "\n", none at the
    // end. Nothing for a result without a rewrite.
    [[nodiscard]] static std::optional<std::string> body(const CleanResult& result,
                                                         std::optional<std::string_view> context);

    // The context without white space around it; nothing when that leaves nothing.
    [[nodiscard]] static std::optional<std::string> normalizedContext(std::optional<std::string_view> context);
};

}  // namespace tessaril
