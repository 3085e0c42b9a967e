// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/ShareLinkResolver.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/foundation/ManualTaskExecutor.h"
#include "core/foundation/ScriptedHttpsClient.h"

namespace tessaril {
namespace {

using namespace std::chrono_literals;

// One plain GET with fixed headers and time-outs, whose body is not wanted; the outcome comes back
// on the main thread only; and what is no share link is never sent.
TEST(ShareLinkResolverTest, AsksOnceWithFixedSettingsAndAnswersOnTheMainThread) {
    ScriptedHttpsClient client;
    client.answer("https://redd.it/abc", ScriptedHttpsClient::redirect("https://www.reddit.com/r/cpp/comments/abc/"));
    client.answer("https://www.reddit.com/r/cpp/comments/abc/", {});
    ManualTaskExecutor executor;
    std::optional<ShareLinkResolution> outcome;
    ShareLinkResolver::resolve(client, executor, "https://redd.it/abc",
                               [&outcome](ShareLinkResolution resolution) { outcome = std::move(resolution); });

    EXPECT_EQ(executor.runBackgroundWork(), 1u);
    EXPECT_FALSE(outcome.has_value());
    ASSERT_EQ(client.requests().size(), 2u);
    const HttpsRequest expected{"https://redd.it/abc",
                                {{"User-Agent", "Tessaril/1.0"},
                                 {"Accept", "text/html,application/xhtml+xml"},
                                 {"Cache-Control", "no-cache"},
                                 {"Pragma", "no-cache"}},
                                6s,
                                8s,
                                0,
                                true};
    EXPECT_EQ(client.requests()[0], expected);

    EXPECT_EQ(executor.runMainTasks(), 1u);
    EXPECT_EQ(outcome, ShareLinkResolution(ResolvedShareLink{
                           "https://redd.it/abc", "https://www.reddit.com/r/cpp/comments/abc/", "redd.it", 1}));

    EXPECT_EQ(ShareLinkResolver::resolve(client, "https://user@redd.it/abc"),
              ShareLinkResolution(ShareLinkResolutionError::unsupported));
    EXPECT_EQ(client.requests().size(), 2u);
}

}  // namespace
}  // namespace tessaril
