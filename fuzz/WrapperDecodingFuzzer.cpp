// SPDX-License-Identifier: GPL-3.0-or-later
// The decoders of wrappers that carry their target encoded. The first byte picks the encoding (bits
// 0-1, and bit 5 for the later ones) and the mode (bit 2). Decoding the rest: no exception; nothing,
// or a link that starts with http:// or https:// (any case), is valid UTF-8, holds no control
// character or blank and is no longer than the limit. Round trip: when the rest is itself a link a
// wrapper may hand on, encoding it the way each wrapper does (padded or not, every character a v3
// link may leave out taken out, in runs, inside a JSON click record) decodes back to it exactly; a
// link without its "https://" comes back whole or not at all.
#include "core/cleaning/RedirectTarget.h"
#include "core/cleaning/WrapperDecoding.h"
#include "core/foundation/Text.h"
#include "fuzz/FuzzSupport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace tessaril;

constexpr WrapperEncoding kEncodings[] = {WrapperEncoding::base64,        WrapperEncoding::base64url,
                                          WrapperEncoding::urlDefenseV2,  WrapperEncoding::urlDefenseV3,
                                          WrapperEncoding::base64urlJson, WrapperEncoding::httpsPath,
                                          WrapperEncoding::base64urlJson, WrapperEncoding::httpPath};

std::string base64(std::string_view bytes, bool urlSafe, bool padded) {
    const std::string_view digits = urlSafe ? "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
                                            : "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - at);
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 3; ++i)
            group = (group << 8U) | (i < count ? static_cast<unsigned char>(bytes[at + i]) : 0U);
        for (std::size_t i = 0; i < 4; ++i) {
            if (i <= count)
                out += digits[(group >> (18 - 6 * i)) & 63U];
            else if (padded)
                out += '=';
        }
    }
    return out;
}

bool isAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string urlDefenseV2(std::string_view link) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string out;
    for (const char c : link) {
        const auto byte = static_cast<unsigned char>(c);
        if (isAlphanumeric(c) || c == '.') {
            out += c;
        } else if (c == '/') {
            out += '_';
        } else {
            out += '-';
            out += kHex[byte >> 4U];
            out += kHex[byte & 15U];
        }
    }
    return out;
}

// What follows "/v3/__": every character but letters and digits taken out, a run of 2-65 as "**"
// and its letter, a shorter or longer run as single stars and runs.
std::string urlDefenseV3(std::string_view link) {
    constexpr std::string_view kRunLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string kept;
    std::string taken;
    for (std::size_t at = 0; at < link.size();) {
        std::size_t characters = 0;
        while (at < link.size() && !isAlphanumeric(link[at])) {
            const auto lead = static_cast<unsigned char>(link[at]);
            const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            taken += link.substr(at, length);
            at += length;
            ++characters;
        }
        while (characters >= 2) {
            const std::size_t run = std::min<std::size_t>(characters, 65);
            kept += "**";
            kept += kRunLetters[run - 2];
            characters -= run;
        }
        if (characters == 1) kept += '*';
        if (at < link.size()) kept += link[at++];
    }
    return kept + "__;" + base64(taken, true, false) + "!!G2k!Zx9$";
}

std::optional<std::string> decodeWithoutThrowing(WrapperEncoding encoding, std::string_view captured) {
    try {
        return decodeWrappedTarget(encoding, captured);
    } catch (...) {
        fuzz::propertyFailed("decodeWrappedTarget threw", __FILE__, __LINE__);
    }
}

bool startsWithWebScheme(std::string_view link) {
    const std::string head = text::asciiLower(link.substr(0, 8));
    return head.starts_with("http://") || head.starts_with("https://");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const WrapperEncoding encoding = kEncodings[(data[0] & 3U) | ((data[0] >> 3U) & 4U)];
    const bool roundTrip = (data[0] & 4U) != 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);

    if (!roundTrip) {
        const auto target = decodeWithoutThrowing(encoding, rest);
        if (!target) return 0;
        FUZZ_CHECK(startsWithWebScheme(*target));
        FUZZ_CHECK(text::isValidUtf8(*target));
        FUZZ_CHECK(fuzz::holdsNoControlOrBlank(*target));
        FUZZ_CHECK(target->size() <= kMaximumDecodedTarget);
        return 0;
    }

    // Only a link the checks pass as it is can come back unchanged.
    const auto link = decodedRedirectTarget(std::string(rest));
    if (!link || *link != rest || !text::isValidUtf8(rest) || rest.size() > kMaximumDecodedTarget / 2) return 0;
    std::string captured;
    switch (encoding) {
        case WrapperEncoding::base64:
        case WrapperEncoding::base64url:
            captured = base64(rest, encoding == WrapperEncoding::base64url, (data[0] & 8U) != 0);
            break;
        case WrapperEncoding::urlDefenseV2:
            captured = urlDefenseV2(rest);
            break;
        case WrapperEncoding::urlDefenseV3:
            captured = urlDefenseV3(rest);
            break;
        case WrapperEncoding::base64urlJson: {
            const nlohmann::json record = {{"email_id", "dgTq"}, {"href", rest}, {"link_id", 42}};
            // Also as JSON text inside an outer record, the way some mail services nest theirs.
            const nlohmann::json outer = {{"p", record.dump()}, {"s", "g9ay"}};
            captured = base64(((data[0] & 16U) != 0 ? outer : record).dump(), true, (data[0] & 8U) != 0);
            break;
        }
        case WrapperEncoding::httpsPath:
        case WrapperEncoding::httpPath: {
            const std::string_view scheme = encoding == WrapperEncoding::httpsPath ? "https://" : "http://";
            if (!rest.starts_with(scheme)) return 0;
            if (auto back = decodeWithoutThrowing(encoding, rest.substr(scheme.size()))) FUZZ_CHECK(*back == *link);
            return 0;
        }
    }
    if (captured.size() > kMaximumEncodedTarget) return 0;
    FUZZ_CHECK(decodeWithoutThrowing(encoding, captured) == *link);
    return 0;
}
