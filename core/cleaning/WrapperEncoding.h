// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

namespace tessaril {

// How a redirect wrapper carries its target when a plain capture cannot give it (see
// WrapperDecoding.h for each). The rule files name them by their raw value.
enum class WrapperEncoding {
    // "base64", "base64url": the target's bytes in either alphabet, padding optional.
    base64,
    base64url,
    // "url-defense-v2": a mail gateway's link parameter with "-" for "%" and "_" for "/".
    urlDefenseV2,
    // "url-defense-v3": the same gateway's later form, the link nearly as written with the
    // characters it could not carry taken out and kept, encoded, after it.
    urlDefenseV3,
    // "base64url-json": a JSON object in base64url whose one web link is the target.
    base64urlJson,
    // "https-path", "http-path": the host and path of an https or http link, written without the
    // scheme.
    httpsPath,
    httpPath,
};

[[nodiscard]] std::string_view rawValue(WrapperEncoding encoding);
[[nodiscard]] std::optional<WrapperEncoding> wrapperEncodingFromRawValue(std::string_view raw);

}  // namespace tessaril
