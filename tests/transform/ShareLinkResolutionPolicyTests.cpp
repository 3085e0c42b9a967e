// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/ShareLinkResolutionPolicy.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

namespace tessaril {
namespace {

using Policy = ShareLinkResolutionPolicy;
constexpr auto kReddit = ShareLinkService::reddit;
constexpr auto kInstagram = ShareLinkService::instagram;
constexpr auto kThreads = ShareLinkService::threads;

std::string repeated(std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// That share links, allowed redirects and post links are strict https (no http, port, user or
// password), and that a post link holds no control, format or line separator character, the
// link-transform fuzzer checks on any text.
TEST(ShareLinkResolutionPolicyTest, RecognisesOnlyTheShareWrappers) {
    const std::pair<std::string, std::optional<ShareLinkService>> cases[] = {
        {"https://www.reddit.com/r/cpp/s/AbC123", kReddit},
        {"HTTPS://Old.Reddit.COM//r/cpp//s/AbC123/", kReddit},
        {"https://np.reddit.com/r/\u00DCn\u00EFcode_9/s/t%C3%B6k", kReddit},
        {"https://reddit.com/r/" + repeated("a", 32) + "/s/t", kReddit},
        {"https://reddit.com/r/" + repeated("a", 33) + "/s/t", std::nullopt},
        {"https://reddit.com/r/my-sub/s/t", std::nullopt},
        {"https://reddit.com/r/cpp/s/t/extra", std::nullopt},
        {"https://reddit.com/r/cpp/S/t", std::nullopt},
        {"https://i.reddit.com/r/cpp/s/t", std::nullopt},
        {"https://reddit.com.example/r/cpp/s/t", std::nullopt},
        // A token must decode to one piece of plain text.
        {"https://reddit.com/r/cpp/s/a%2Fb", std::nullopt},
        {"https://reddit.com/r/cpp/s/a%0Ab", std::nullopt},
        {"https://reddit.com/r/cpp/s/a%E2%80%AEb", std::nullopt},
        {"https://reddit.com/r/cpp/s/a%FF", std::nullopt},
        {"https://redd.it/abc", kReddit},
        {"https://www.redd.it/abc", std::nullopt},
        {"https://redd.it/abc/def", std::nullopt},
        {"https://www.instagram.com/share/BAxyz", kInstagram},
        {"https://instagram.com/share/BAxyz", kInstagram},
        {"https://www.instagram.com/share/reel/BAxyz", std::nullopt},
        {"https://www.www.instagram.com/share/BAxyz", std::nullopt},
        {"https://l.instagram.com/share/BAxyz", std::nullopt},
        {"https://threads.net/share/x", kThreads},
        {"https://www.threads.com/share/x", kThreads},
        {"https://example.com/share/x", std::nullopt},
    };
    for (const auto& [link, expected] : cases)
        EXPECT_EQ(Policy::service(link), expected) << link;
}

TEST(ShareLinkResolutionPolicyTest, RedirectsStayOnTheService) {
    const std::pair<std::pair<const char*, ShareLinkService>, bool> cases[] = {
        {{"https://www.reddit.com/r/cpp/comments/a", kReddit}, true},
        {{"https://OLD.reddit.com/", kReddit}, true},
        {{"https://redd.it/x", kReddit}, true},
        {{"https://evil.reddit.com/", kReddit}, false},
        {{"https://reddit.com.example/", kReddit}, false},
        {{"https://www.instagram.com/", kReddit}, false},
        {{"https://www.instagram.com/p/x", kInstagram}, true},
        {{"https://l.instagram.com/", kInstagram}, false},
        {{"https://www.threads.net/@a/post/1", kThreads}, true},
        {{"https://threads.com/", kThreads}, true},
        {{"https://instagram.com/", kThreads}, false},
    };
    for (const auto& [input, allowed] : cases)
        EXPECT_EQ(Policy::allowedRedirect(input.first, input.second), allowed) << input.first;
    EXPECT_FALSE(Policy::allowedRedirectHost(std::nullopt, kReddit));
    EXPECT_FALSE(Policy::allowedRedirectHost("", kReddit));
    EXPECT_TRUE(Policy::allowedRedirectHost("WWW.Threads.NET", kThreads));
}

TEST(ShareLinkResolutionPolicyTest, OnlyAPostLinkOfTheSameServiceIsCanonical) {
    const std::string instagram = "https://www.instagram.com/share/BAxyz";
    const std::string threads = "https://threads.net/share/x";
    const std::string reddit = "https://www.reddit.com/r/cpp/s/AbC";
    const std::pair<std::pair<std::string, std::string>, bool> cases[] = {
        {{instagram, "https://www.instagram.com/p/Cxyz/?igsh=abc#top"}, true},
        {{instagram, "https://instagram.com/reel/Cxyz"}, true},
        {{instagram, "https://instagram.com/tv/Cxyz"}, true},
        {{instagram, "https://instagram.com/p/"}, false},
        {{instagram, "https://instagram.com/someone/"}, false},
        {{instagram, instagram}, false},
        {{instagram, "https://www.threads.net/@name/post/C1"}, false},
        {{threads, "https://www.threads.net/@name/post/C1"}, true},
        {{threads, "https://threads.com/@name/post/C1?x=1"}, true},
        {{threads, "https://threads.net/name/post/C1"}, false},
        {{threads, "https://threads.net/@name"}, false},
        {{reddit, "https://www.reddit.com/r/cpp/comments/abc/a_title/?utm_source=share"}, true},
        {{"https://redd.it/abc", "https://reddit.com/r/cpp/comments/abc"}, true},
        {{reddit, reddit}, false},
        {{reddit, "https://www.reddit.com/user/someone"}, false},
        {{reddit, "https://i.reddit.com/r/cpp/comments/abc"}, false},
        {{reddit, "https://www.reddit.com/r/cpp/comments/abc/slug/more"}, false},
        {{reddit, "https://www.reddit.com/r/cpp/comments/a%2Fb"}, false},
        {{"https://example.com/p/x", "https://www.instagram.com/p/x"}, false},
    };
    for (const auto& [links, canonical] : cases) {
        const auto& [input, candidate] = links;
        EXPECT_EQ(Policy::validatedCanonicalURL(input, candidate), canonical ? std::optional(candidate) : std::nullopt)
            << input << " -> " << candidate;
    }
}

TEST(ShareLinkResolutionPolicyTest, RedditTitleIsThePlainWordsOfTheSlug) {
    const std::string post = "https://www.reddit.com/r/cpp/comments/abc";
    const std::string fallback = "Reddit post in r/cpp";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {post + "/my_first_post/", "my first post"},
        {"https://WWW.REDDIT.COM/r/cpp/comments/abc/a-b%20%20c__", "a b c"},
        {post + "/caf%C3%A9_na%C3%AFve", "caf\u00E9 na\u00EFve"},
        {post + "/it%E2%80%99s_fine_(really)%3F_%2B1", "it\u2019s fine (really)? +1"},
        {post, fallback},
        {post + "/hello_%F0%9F%98%80", fallback},
        {post + "/a%0Ab", fallback},
        {post + "/a%FF", fallback},
        {post + "/___", fallback},
        {post + "/..._!!", fallback},
        {"https://reddit.com/r/\u00DCn\u00EFcode_9/comments/abc/%F0%9F%98%80", "Reddit post in r/\u00DCn\u00EFcode_9"},
        // Cut to 119 characters, trailing blanks dropped, and an ellipsis: counted in characters, not bytes.
        {post + "/" + repeated("abcdef_", 18), repeated("abcdef ", 16) + "abcdef\u2026"},
        {post + "/" + repeated("%C3%A9", 120), repeated("\u00E9", 120)},
        {post + "/" + repeated("%C3%A9", 121), repeated("\u00E9", 119) + "\u2026"},
        // Only Reddit post links have a title.
        {"https://www.reddit.com/r/cpp/s/AbC", std::nullopt},
        {"https://i.reddit.com/r/cpp/comments/abc/x", std::nullopt},
        {"https://example.com/r/cpp/comments/abc/x", std::nullopt},
    };
    for (const auto& [link, title] : cases)
        EXPECT_EQ(Policy::redditTitle(link), title) << link;
}

}  // namespace
}  // namespace tessaril
