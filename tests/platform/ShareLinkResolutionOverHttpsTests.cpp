// SPDX-License-Identifier: GPL-3.0-or-later
// The resolve command end to end over real TLS. How the resolver follows redirects (the count, the
// service, malformed Locations) is ShareLinkResolverTests' and fuzz/LinkTransformsFuzzer.cpp's; how
// the client treats Locations, cookies and silent servers is CurlHttpsClientTests'.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/transform/PrivacyRedirectSettings.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "platform/http/CurlHttpsClient.h"
#include "platform/paths/XdgPaths.h"
#include "tests/cli/ToolTest.h"
#include "tests/support/LoopbackTlsServer.h"

namespace tessaril {

namespace {

using namespace std::chrono_literals;
using testing::Invocation;

// How a page of the services answers here; a redirect when there is a Location.
struct Page {
    int status = 200;
    std::string location;
    enum class Body { plain, endless } body = Body::plain;
};

const std::map<std::string, Page> kPages = {
    // Four redirects within Reddit, in every form a Location takes.
    {"redd.it/four", {301, "https://www.reddit.com/r/cpp/s/t1"}},
    {"www.reddit.com/r/cpp/s/t1", {302, "t2"}},
    {"www.reddit.com/r/cpp/s/t2", {307, "//old.reddit.com/r/cpp/s/t3"}},
    {"old.reddit.com/r/cpp/s/t3", {308, "https://reddit.com/r/cpp/comments/abc/my_post/?utm_source=share"}},
    {"reddit.com/r/cpp/comments/abc/my_post/", {}},
    {"www.instagram.com/share/away", {302, "https://www.example.com/p/Cxyz"}},
    {"www.instagram.com/share/endless", {302, "/p/Cxyz/?igsh=1"}},
    {"www.instagram.com/p/Cxyz/", {200, "", Page::Body::endless}},
    // What the tests must never reach.
    {"www.example.com/p/Cxyz", {}},
};

// The resolver's own time-outs, cut so that a silent server costs a second.
class Hurried final : public HttpsClient {
public:
    explicit Hurried(HttpsClient& client) : client_(client) {}
    HttpsResult get(const HttpsRequest& request, const RedirectPolicy& policy) override {
        HttpsRequest hurried = request;
        hurried.idleTimeout = 1s;
        hurried.totalTimeout = 2s;
        return client_.get(hurried, policy);
    }

private:
    HttpsClient& client_;
};

class ShareLinkResolutionOverHttpsTest : public testing::ToolTest {
protected:
    void answer(const httplib::Request& request, httplib::Response& response) {
        const std::string address = request.get_header_value("Host") + request.path;
        const auto page = kPages.find(address);
        if (page == kPages.end()) {
            response.status = 404;
            return;
        }
        response.status = page->second.status;
        response.set_header("Set-Cookie", "session=1");
        if (!page->second.location.empty()) response.set_header("Location", page->second.location);
        if (page->second.body == Page::Body::endless) {
            response.set_chunked_content_provider("text/html", [this](std::size_t, httplib::DataSink& sink) {
                return !server_->shuttingDown() && sink.write("<p>more</p>", 11);
            });
            return;
        }
        response.set_content("<html><title>\x1b]0;pwned\x07</title></html>", "text/html");
    }

    Invocation invoke(const std::vector<std::string>& arguments) { return ToolTest::invoke(arguments, {}, &hurried_); }

    std::optional<testing::LoopbackTlsServer> server_{
        std::in_place,
        [this](const httplib::Request& request, httplib::Response& response) { answer(request, response); }};
    CurlHttpsClient client_{server_->network()};
    Hurried hurried_{client_};
};

TEST_F(ShareLinkResolutionOverHttpsTest, ToolPrintsTheCleanPostLinkOrWhyNot) {
    const std::pair<std::vector<std::string>, Invocation> cases[] = {
        {{"resolve", " https://redd.it/four "}, {0, "https://reddit.com/r/cpp/comments/abc/my_post/\n", ""}},
        {{"resolve", "https://www.instagram.com/share/endless?igsh=tracker"},
         {0, "https://www.instagram.com/p/Cxyz/\n", ""}},
        {{"resolve", "https://www.instagram.com/share/away"},
         {1, "", "tessaril: The link tried to leave the expected service, so Tessaril stopped.\n"}},
        {{"resolve", "http://redd.it/four"},
         {1, "", "tessaril: This is not a supported Instagram, Threads, or Reddit share link.\n"}},
    };
    for (const auto& [arguments, expected] : cases)
        EXPECT_EQ(invoke(arguments), expected) << arguments.back();
    EXPECT_EQ(invoke({"resolve"}).status, 2);
    // The tracker came off before the link went to Instagram.
    for (const auto& request : server_->takeRequests())
        EXPECT_EQ(request.target.find("tracker"), std::string::npos) << request.target;

    const auto json = invoke({"resolve", "--json", "https://redd.it/four"});
    ASSERT_EQ(json.status, 0) << json.err;
    const auto result = nlohmann::json::parse(json.out);
    EXPECT_EQ(result["originalURL"], "https://redd.it/four");
    EXPECT_EQ(result["cleanedURL"], "https://reddit.com/r/cpp/comments/abc/my_post/");
    EXPECT_EQ(result["operations"][0]["kind"], "network_resolution");
    EXPECT_EQ(result["operations"][0]["contactedHost"], "redd.it");
    EXPECT_EQ(result["operations"][0]["outputURL"], "https://reddit.com/r/cpp/comments/abc/my_post/?utm_source=share");

    // The front-end rewrite is for the post link; the share link still goes to Reddit.
    SqliteUserDefaults::open(defaultDefaultsFile(XdgPaths()))
        ->set(PrivacyRedirectSettings::redditRedirectEnabledKey, true);
    EXPECT_EQ(invoke({"resolve", "https://www.reddit.com/r/cpp/s/t2"}),
              (Invocation{0, "https://safereddit.com/r/cpp/comments/abc/my_post/\n", ""}));
}

}  // namespace
}  // namespace tessaril
