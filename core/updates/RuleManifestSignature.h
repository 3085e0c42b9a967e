// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// An Ed25519 public key: its 32 raw bytes.
using RuleSigningKey = std::array<std::uint8_t, 32>;

// Every rules manifest on the update origin carries a detached Ed25519 signature of its exact bytes,
// in a file beside it named after it with ".sig" appended, holding the 64 raw signature bytes and
// nothing else. A manifest is decoded, and anything it names downloaded, only once that signature
// verifies with the key built into the product: whoever controls the origin, or a link to it, can
// serve old or broken files, but not rules the maker did not sign.
class RuleManifestSignature {
public:
    static constexpr std::string_view fileSuffix = ".sig";
    static constexpr std::size_t signatureBytes = 64;
    // The most of a signature file ever read: anything longer is refused unread.
    static constexpr std::size_t maximumFileBytes = 256;

    // The public half of the maker's rules signing key.
    static const RuleSigningKey releaseKey;

    // Whether `signature` is exactly `key`'s signature of `manifest`, byte for byte.
    [[nodiscard]] static bool verify(std::string_view manifest, std::string_view signature, const RuleSigningKey& key);
    // The signature of `manifest` by the Ed25519 private key in `privateKeyPem` (PKCS#8 PEM, unencrypted),
    // or nothing when that is not such a key.
    [[nodiscard]] static std::optional<std::string> sign(std::string_view manifest, std::string_view privateKeyPem);
};

}  // namespace tessaril
