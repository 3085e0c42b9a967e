// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/updates/RuleManifestSignature.h"
#include "tests/support/Fixtures.h"

namespace tessaril::testing {

// One of the tests' own Ed25519 key pairs (tests/data/keys, made with `openssl genpkey -algorithm
// ed25519`): the private key in PEM, the raw public key in hex.
class SigningKeyPair {
public:
    explicit SigningKeyPair(const std::string& name = "signing") {
        const auto keys = std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data/keys";
        privateKeyPem_ = readFile(keys / (name + ".pem"));
        const std::string hex = readFile(keys / (name + ".pub"));
        for (std::size_t i = 0; i < publicKey_.size() && 2 * i + 2 <= hex.size(); ++i)
            publicKey_[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
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
