// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/http/CurlHttpsClient.h"

namespace tessaril::testing {

// An HTTPS server on 127.0.0.1 with the tests' own certificate (tests/data/tls, for the names the
// suites use): a client built with network() trusts only that certificate and reaches this server
// whatever name and port it asks for, so nothing leaves the machine.
class LoopbackTlsServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit LoopbackTlsServer(Handler handler);
    ~LoopbackTlsServer();
    LoopbackTlsServer(const LoopbackTlsServer&) = delete;
    LoopbackTlsServer& operator=(const LoopbackTlsServer&) = delete;

    [[nodiscard]] CurlHttpsClient::LoopbackNetwork network() const { return {authority_, port_}; }

    // Every request that reached the server since the last call, in the order they came.
    [[nodiscard]] std::vector<httplib::Request> takeRequests();
    // For a handler that must never answer: returns once the server is shutting down.
    void waitForShutdown();
    [[nodiscard]] bool shuttingDown();

private:
    std::string authority_;
    std::uint16_t port_ = 0;
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<httplib::Request> requests_;
    std::condition_variable shutdown_;
    bool shuttingDown_ = false;
};

}  // namespace tessaril::testing
