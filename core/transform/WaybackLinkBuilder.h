// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// The Wayback Machine's list of archived copies of a page, as a link. Only text is built: nothing
// is fetched and the page is not submitted for archiving.
class WaybackLinkBuilder {
public:
    static constexpr std::string_view lookupPrefix = "https://web.archive.org/web/*/";

    // The prefix followed by the trimmed link exactly as written (its query and fragment too, with
    // no encoding added), for an http or https link with a host; nothing for anything else.
    [[nodiscard]] static std::optional<std::string> lookupURL(std::string_view url);
};

}  // namespace tessaril
