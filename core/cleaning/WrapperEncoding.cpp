// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/WrapperEncoding.h"

#include <array>
#include <utility>

namespace tessaril {

namespace {

constexpr std::array<std::pair<WrapperEncoding, std::string_view>, 7> kNames = {{
    {WrapperEncoding::base64, "base64"},
    {WrapperEncoding::base64url, "base64url"},
    {WrapperEncoding::urlDefenseV2, "url-defense-v2"},
    {WrapperEncoding::urlDefenseV3, "url-defense-v3"},
    {WrapperEncoding::base64urlJson, "base64url-json"},
    {WrapperEncoding::httpsPath, "https-path"},
    {WrapperEncoding::httpPath, "http-path"},
}};

}  // namespace

std::string_view rawValue(WrapperEncoding encoding) {
    for (const auto& [each, name] : kNames) {
        if (each == encoding) return name;
    }
    return {};
}

std::optional<WrapperEncoding> wrapperEncodingFromRawValue(std::string_view raw) {
    for (const auto& [each, name] : kNames) {
        if (name == raw) return each;
    }
    return std::nullopt;
}

}  // namespace tessaril
