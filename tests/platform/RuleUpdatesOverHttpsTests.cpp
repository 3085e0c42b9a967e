// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "core/updates/RuleUpdateManifest.h"
#include "core/updates/StaticUpdateSession.h"
#include "platform/http/CurlHttpsClient.h"
#include "tests/support/LoopbackTlsServer.h"

namespace tessaril {

namespace {

constexpr std::size_t kLimit = RuleUpdateManifest::maximumManifestBytes;
const std::string kOrigin = "https://" + std::string(StaticUpdateSession::originHost);

// The bodies of exactly the limit and one byte over, each with its length declared and sent in
// chunks without one.
void serveSizes(const httplib::Request& request, httplib::Response& response) {
    const auto chunked = [&response](std::size_t size) {
        response.set_chunked_content_provider("text/plain", [size](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= size) {
                sink.done();
                return true;
            }
            const std::string chunk(std::min<std::size_t>(4096, size - offset), 'c');
            return sink.write(chunk.data(), chunk.size());
        });
    };
    const std::string& path = request.path;
    if (path == "/tessaril/exact") return response.set_content(std::string(kLimit, 'x'), "text/plain");
    if (path == "/tessaril/over") return response.set_content(std::string(kLimit + 1, 'x'), "text/plain");
    if (path == "/tessaril/exact-chunked") return chunked(kLimit);
    if (path == "/tessaril/over-chunked") return chunked(kLimit + 1);
    if (path == "/tessaril/moved") return response.set_redirect("/tessaril/exact", 301);
    if (path == "/tessaril/away") return response.set_redirect("https://elsewhere.example/tessaril/exact", 302);
    if (path == "/tessaril/outside") return response.set_redirect(kOrigin + "/other/exact", 302);
    response.status = 404;
}

TEST(StaticUpdateSessionOverHttpsTest, ReadsAtMostTheLimitAndStaysOnTheOrigin) {
    testing::LoopbackTlsServer server({std::string(StaticUpdateSession::originHost), "elsewhere.example"}, &serveSizes);
    CurlHttpsClient client(server.network());
    const StaticUpdateSession session(client);
    const std::pair<std::string, HttpsResult> cases[] = {
        {"/tessaril/exact", HttpsResponse{kOrigin + "/tessaril/exact", 200, std::string(kLimit, 'x'), 0}},
        {"/tessaril/exact-chunked",
         HttpsResponse{kOrigin + "/tessaril/exact-chunked", 200, std::string(kLimit, 'c'), 0}},
        {"/tessaril/over", HttpsError::tooLarge},
        {"/tessaril/over-chunked", HttpsError::tooLarge},
        // A redirect within the origin is followed; one that leaves it ends with the redirect itself.
        {"/tessaril/moved", HttpsResponse{kOrigin + "/tessaril/exact", 200, std::string(kLimit, 'x'), 1}},
        {"/tessaril/away", HttpsResponse{kOrigin + "/tessaril/away", 302, "", 0}},
        {"/tessaril/outside", HttpsResponse{kOrigin + "/tessaril/outside", 302, "", 0}},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(session.boundedData(StaticUpdateSession::request(kOrigin + path), kLimit), expected) << path;
}

}  // namespace
}  // namespace tessaril
