// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/cleaning/WrapperEncoding.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// Longer captured text is no wrapper's parameter and is not decoded.
inline constexpr std::size_t kMaximumEncodedTarget = 16384;
// No decoded target is longer.
inline constexpr std::size_t kMaximumDecodedTarget = 16384;

// The web link a redirect wrapper hides in `captured`, the text its expression captured, encoded
// as `encoding` says:
// - base64, base64url: the link's bytes (escapes in the captured text are decoded first, for
//   padding written as "%3D"); a fixed prefix in front of them is left out by the expression;
// - urlDefenseV2: the value of the "u" parameter; "-" stands for "%" and "_" for "/", and the
//   escapes that then stand must all decode;
// - urlDefenseV3: what follows "/v3/__": the link, "__;", the base64url of the characters taken out
//   of it, then "!" and the gateway's own fields. Each "*" in the link stands for the next character
//   taken out, each "**" and a letter, digit, "-" or "_" for the next run of 2 (A), 3 (B) ... 65 (_)
//   of them; characters are Unicode characters, not bytes. A link escaped as a whole (its "://"
//   written "%3A%2F%2F") is unescaped before that; the escapes of a link written as it is are its
//   own and stay, so a wrapper inside keeps its encoded target. A lost slash after the scheme
//   ("https:/host") is put back. A star with no character left to stand for means the link lost
//   its end, and gives nothing.
// - base64urlJson: base64url as above of a JSON object (a mail service's click record); the target
//   is the one string among its own members that begins with http:// or https://. An object with
//   two (which one is meant would be a guess) gives nothing, as does any other JSON; one with none
//   is looked into once more through its strings that are themselves the text of such an object.
// - httpsPath, httpPath: a host and what follows it, the link's "https://" or "http://" left out
//   ("www.example.com/a"). The host must be a name of letters, digits, "-" and "." with a dot in it.
// The result then passes the checks of a captured target (decodedRedirectTarget): a web link in
// valid UTF-8 with no control character or white space, at most kMaximumDecodedTarget bytes.
// Nothing otherwise. Pure and never throws.
[[nodiscard]] std::optional<std::string> decodeWrappedTarget(WrapperEncoding encoding, std::string_view captured);

}  // namespace tessaril
