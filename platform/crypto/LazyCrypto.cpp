// SPDX-License-Identifier: GPL-3.0-or-later
//
// The few libcrypto functions the core calls (a digest, and the signature checks of rule updates),
// defined here for the `tessaril` tool so that it does not link libcrypto: each loads the library on
// its first call and forwards to it. Loading libcrypto at start-up cost about 4 ms of the tool's
// 35 ms for every command, while only `rules update` and the bundle checks use it
// (docs/decisions/lazy-libcrypto.md). Where the library cannot be loaded, every function fails as
// libcrypto's own do when out of memory (a null object, a zero status), which the callers handle.
//
// Linked with --as-needed, libcrypto then drops out of the program's dependencies; should the core
// call a function missing here, the link takes it from libcrypto again and nothing breaks.
#include "platform/lazy/LazyLibrary.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace {

void* library() {
    static void* const handle = tessaril::lazy::open("libcrypto.so.3");
    return handle;
}

}  // namespace

extern "C" {

EVP_MD_CTX* EVP_MD_CTX_new(void) {
    TESSARIL_FORWARD(EVP_MD_CTX_new, nullptr);
}

void EVP_MD_CTX_free(EVP_MD_CTX* ctx) {
    static auto* const real = tessaril::lazy::bind<decltype(EVP_MD_CTX_free)>(library(), "EVP_MD_CTX_free");
    if (real != nullptr) real(ctx);
}

const EVP_MD* EVP_sha256(void) {
    TESSARIL_FORWARD(EVP_sha256, nullptr);
}

int EVP_DigestInit_ex(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl) {
    TESSARIL_FORWARD(EVP_DigestInit_ex, 0, ctx, type, impl);
}

int EVP_DigestUpdate(EVP_MD_CTX* ctx, const void* d, size_t cnt) {
    TESSARIL_FORWARD(EVP_DigestUpdate, 0, ctx, d, cnt);
}

int EVP_DigestFinal_ex(EVP_MD_CTX* ctx, unsigned char* md, unsigned int* s) {
    TESSARIL_FORWARD(EVP_DigestFinal_ex, 0, ctx, md, s);
}

EVP_PKEY* EVP_PKEY_new_raw_public_key(int type, ENGINE* e, const unsigned char* pub, size_t len) {
    TESSARIL_FORWARD(EVP_PKEY_new_raw_public_key, nullptr, type, e, pub, len);
}

void EVP_PKEY_free(EVP_PKEY* pkey) {
    static auto* const real = tessaril::lazy::bind<decltype(EVP_PKEY_free)>(library(), "EVP_PKEY_free");
    if (real != nullptr) real(pkey);
}

int EVP_PKEY_get_id(const EVP_PKEY* pkey) {
    TESSARIL_FORWARD(EVP_PKEY_get_id, EVP_PKEY_NONE, pkey);
}

int EVP_DigestVerifyInit(EVP_MD_CTX* ctx, EVP_PKEY_CTX** pctx, const EVP_MD* type, ENGINE* e, EVP_PKEY* pkey) {
    TESSARIL_FORWARD(EVP_DigestVerifyInit, 0, ctx, pctx, type, e, pkey);
}

int EVP_DigestVerify(EVP_MD_CTX* ctx, const unsigned char* sigret, size_t siglen, const unsigned char* tbs,
                     size_t tbslen) {
    TESSARIL_FORWARD(EVP_DigestVerify, 0, ctx, sigret, siglen, tbs, tbslen);
}

int EVP_DigestSignInit(EVP_MD_CTX* ctx, EVP_PKEY_CTX** pctx, const EVP_MD* type, ENGINE* e, EVP_PKEY* pkey) {
    TESSARIL_FORWARD(EVP_DigestSignInit, 0, ctx, pctx, type, e, pkey);
}

int EVP_DigestSign(EVP_MD_CTX* ctx, unsigned char* sigret, size_t* siglen, const unsigned char* tbs, size_t tbslen) {
    TESSARIL_FORWARD(EVP_DigestSign, 0, ctx, sigret, siglen, tbs, tbslen);
}

BIO* BIO_new_mem_buf(const void* buf, int len) {
    TESSARIL_FORWARD(BIO_new_mem_buf, nullptr, buf, len);
}

int BIO_free(BIO* a) {
    TESSARIL_FORWARD(BIO_free, 0, a);
}

EVP_PKEY* PEM_read_bio_PrivateKey(BIO* out, EVP_PKEY** x, pem_password_cb* cb, void* u) {
    TESSARIL_FORWARD(PEM_read_bio_PrivateKey, nullptr, out, x, cb, u);
}

}  // extern "C"
