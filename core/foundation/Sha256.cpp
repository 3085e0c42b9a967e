// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Sha256.h"

#include <openssl/evp.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace tessaril {

std::string sha256Hex(std::string_view bytes) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    // These only fail when libcrypto cannot allocate or is broken; no digest is better than a wrong one.
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) {
        throw std::runtime_error("SHA-256 is unavailable");
    }
    static constexpr std::string_view kHex = "0123456789abcdef";
    std::string hex;
    hex.reserve(std::size_t{length} * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kHex[digest[i] >> 4U]);
        hex.push_back(kHex[digest[i] & 0x0FU]);
    }
    return hex;
}

}  // namespace tessaril
