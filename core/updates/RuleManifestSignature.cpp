// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RuleManifestSignature.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <climits>
#include <memory>

namespace tessaril {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

const unsigned char* bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// Never asks for a passphrase: a protected key is refused rather than prompted for.
int noPassphrase(char* /*buffer*/, int /*size*/, int /*writing*/, void* /*data*/) {
    return 0;
}

}  // namespace

// Rule releases are signed by the publishing tool (`tessaril_publish_rules publish ... KEY`) with
// the private half, an Ed25519 key made by `openssl genpkey -algorithm ed25519` that is kept off
// the repository and the build machines. Print a PEM key's public bytes with
// `openssl pkey -in KEY -pubout -outform DER | tail -c 32 | xxd -p -c 32`:
// 8f14a4f94aacae59c5bdc85284a324dfcd6120ed6b86033a68a223f0041a567c
const RuleSigningKey RuleManifestSignature::releaseKey = {
    0x8f, 0x14, 0xa4, 0xf9, 0x4a, 0xac, 0xae, 0x59, 0xc5, 0xbd, 0xc8, 0x52, 0x84, 0xa3, 0x24, 0xdf,
    0xcd, 0x61, 0x20, 0xed, 0x6b, 0x86, 0x03, 0x3a, 0x68, 0xa2, 0x23, 0xf0, 0x04, 0x1a, 0x56, 0x7c,
};

bool RuleManifestSignature::verify(std::string_view manifest, std::string_view signature, const RuleSigningKey& key) {
    if (signature.size() != signatureBytes) return false;
    const Key publicKey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()), &EVP_PKEY_free);
    const Context context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    // Ed25519 signs the message itself, so there is no digest to name and no streaming.
    return publicKey && context &&
           EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) == 1 &&
           EVP_DigestVerify(context.get(), bytes(signature), signature.size(), bytes(manifest), manifest.size()) == 1;
}

std::optional<std::string> RuleManifestSignature::sign(std::string_view manifest, std::string_view privateKeyPem) {
    if (privateKeyPem.size() > INT_MAX) return std::nullopt;
    const std::unique_ptr<BIO, decltype(&BIO_free)> pem(
        BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())), &BIO_free);
    if (!pem) return std::nullopt;
    const Key privateKey(PEM_read_bio_PrivateKey(pem.get(), nullptr, &noPassphrase, nullptr), &EVP_PKEY_free);
    if (!privateKey || EVP_PKEY_get_id(privateKey.get()) != EVP_PKEY_ED25519) return std::nullopt;
    const Context context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::string signature(signatureBytes, '\0');
    std::size_t length = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, privateKey.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length, bytes(manifest),
                       manifest.size()) != 1 ||
        length != signatureBytes) {
        return std::nullopt;
    }
    return signature;
}

}  // namespace tessaril
