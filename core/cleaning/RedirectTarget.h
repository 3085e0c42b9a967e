// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// The web link a redirect wrapper hides, from the text its redirection expression captured: the text
// percent-decoded (taken as written when the escapes do not decode), without the white space at its
// end (a stray "%0A" or "%20"), when it begins with http:// or https:// in any case. Nothing when it
// does not, or when it holds a character no link can hold: a control character (C0, DEL or C1) or
// white space. Such text is no link, and handing it on would put a line break or a terminal escape
// into the cleaned output.
[[nodiscard]] std::optional<std::string> redirectTarget(std::string_view captured);
// The same for a target some other encoding has already been taken off: the checks alone, with no
// percent-decoding, since a link's own escapes are part of it.
[[nodiscard]] std::optional<std::string> decodedRedirectTarget(std::string target);

}  // namespace tessaril
