// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/LoopbackTlsServer.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>
#include <utility>

namespace tessaril::testing {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

void require(bool done, const char* what) {
    if (!done) throw std::runtime_error(std::string("test TLS set-up failed: ") + what);
}

Key newKey() {
    Key key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    require(key != nullptr, "key");
    return key;
}

// A self-signed certificate for `names`: the one authority a client of the test network trusts.
Certificate newCertificate(EVP_PKEY* key, const std::vector<std::string>& names) {
    std::string alternativeNames;
    for (const auto& name : names)
        alternativeNames += (alternativeNames.empty() ? "DNS:" : ",DNS:") + name;
    Certificate certificate(X509_new(), &X509_free);
    X509* cert = certificate.get();
    X509_NAME* subject = cert ? X509_get_subject_name(cert) : nullptr;
    require(subject && X509_set_version(cert, 2) && ASN1_INTEGER_set(X509_get_serialNumber(cert), 1) &&
                X509_gmtime_adj(X509_getm_notBefore(cert), -3600) && X509_gmtime_adj(X509_getm_notAfter(cert), 86400) &&
                X509_set_pubkey(cert, key) &&
                X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                           reinterpret_cast<const unsigned char*>(names.front().c_str()), -1, -1, 0) &&
                X509_set_issuer_name(cert, subject),
            "certificate");
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, alternativeNames.c_str());
    require(extension && X509_add_ext(cert, extension, -1) && X509_sign(cert, key, EVP_sha256()) > 0, "signature");
    X509_EXTENSION_free(extension);
    return certificate;
}

std::string pem(X509* certificate) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    require(bio && PEM_write_bio_X509(bio.get(), certificate), "PEM");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return {data, static_cast<std::size_t>(length)};
}

}  // namespace

LoopbackTlsServer::LoopbackTlsServer(const std::vector<std::string>& names, Handler handler) {
    const Key key = newKey();
    const Certificate certificate = newCertificate(key.get(), names);
    authority_ = pem(certificate.get());

    server_ = std::make_unique<httplib::SSLServer>(certificate.get(), key.get());
    require(server_->is_valid(), "server");
    server_->Get(".*",
                 [this, handler = std::move(handler)](const httplib::Request& request, httplib::Response& response) {
                     {
                         const std::scoped_lock lock(mutex_);
                         requests_.push_back(request);
                     }
                     handler(request, response);
                 });
    const int port = server_->bind_to_any_port("127.0.0.1");
    require(port > 0, "bind");
    port_ = static_cast<std::uint16_t>(port);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

LoopbackTlsServer::~LoopbackTlsServer() {
    {
        const std::scoped_lock lock(mutex_);
        shuttingDown_ = true;
    }
    shutdown_.notify_all();
    server_->stop();
    thread_.join();
}

std::vector<httplib::Request> LoopbackTlsServer::takeRequests() {
    const std::scoped_lock lock(mutex_);
    return std::exchange(requests_, {});
}

void LoopbackTlsServer::waitForShutdown() {
    std::unique_lock lock(mutex_);
    shutdown_.wait(lock, [this] { return shuttingDown_; });
}

bool LoopbackTlsServer::shuttingDown() {
    const std::scoped_lock lock(mutex_);
    return shuttingDown_;
}

}  // namespace tessaril::testing
