// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// The one rule for the host names kept in the user's lists (blocklist sites and site exceptions
// alike), so that both accept and refuse the same names and keep each one in the same form. It
// accepts:
//  - a name of at least two labels, each 1 to 63 ASCII letters, digits or inner hyphens, at most
//    253 characters, returned in lower case; a name with non-ASCII labels is accepted when it is a
//    valid internationalised name, and returned in its ASCII form ("B\u00FCcher.example" gives
//    "xn--bcher-kva.example"), which is what it stands for in a link either way;
//  - an IPv6 address in brackets, returned in its canonical form ("[2001:DB8:0::1]" gives
//    "[2001:db8::1]").
// Nothing else is changed or accepted: blanks, a scheme, a port, a path, a wildcard, an underscore,
// a leading or trailing dot, a line break or an IPv6 zone make the text invalid.
[[nodiscard]] std::optional<std::string> canonicalHostName(std::string_view text);

}  // namespace tessaril
