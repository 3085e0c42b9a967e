// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/LoopbackTlsServer.h"

#include "tests/support/Fixtures.h"

#include <stdexcept>
#include <utility>

namespace tessaril::testing {

LoopbackTlsServer::LoopbackTlsServer(Handler handler) {
    const std::filesystem::path folder = std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data/tls";
    authority_ = readFile(folder / "certificate.pem");
    server_ = std::make_unique<httplib::SSLServer>((folder / "certificate.pem").c_str(), (folder / "key.pem").c_str());
    const int port = server_->is_valid() ? server_->bind_to_any_port("127.0.0.1") : -1;
    if (port <= 0) throw std::runtime_error("the loopback TLS server cannot start");
    server_->Get(".*",
                 [this, handler = std::move(handler)](const httplib::Request& request, httplib::Response& response) {
                     {
                         const std::scoped_lock lock(mutex_);
                         requests_.push_back(request);
                     }
                     handler(request, response);
                 });
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
