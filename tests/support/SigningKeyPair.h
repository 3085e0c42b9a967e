// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/updates/RuleManifestSignature.h"

namespace tessaril::testing {

// A throw-away Ed25519 key pair, made fresh for each test that publishes signed rules.
class SigningKeyPair {
public:
    SigningKeyPair() {
        const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                                      &EVP_PKEY_free);
        const std::unique_ptr<BIO, decltype(&BIO_free)> pem(BIO_new(BIO_s_mem()), &BIO_free);
        std::size_t length = publicKey_.size();
        char* text = nullptr;
        if (!key || !pem || EVP_PKEY_get_raw_public_key(key.get(), publicKey_.data(), &length) != 1 ||
            PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
            throw std::runtime_error("cannot make an Ed25519 key");
        }
        const long size = BIO_get_mem_data(pem.get(), &text);
        privateKeyPem_.assign(text, static_cast<std::size_t>(size));
    }

    [[nodiscard]] const RuleSigningKey& publicKey() const { return publicKey_; }
    [[nodiscard]] const std::string& privateKeyPem() const { return privateKeyPem_; }
    [[nodiscard]] std::string sign(std::string_view manifest) const {
        return RuleManifestSignature::sign(manifest, privateKeyPem_).value();
    }

private:
    RuleSigningKey publicKey_{};
    std::string privateKeyPem_;
};

}  // namespace tessaril::testing
