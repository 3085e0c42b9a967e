// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/transform/ShareLinkResolutionPolicy.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace tessaril {
namespace {

using Policy = ShareLinkResolutionPolicy;

std::string repeated(std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

std::optional<std::string> text(const nlohmann::json& value) {
    return value.is_null() ? std::nullopt : std::optional(value.get<std::string>());
}

// That share links, allowed redirects and post links are strict https (no http, port, user or
// password), and that a post link holds no control, format or line separator character, the
// link-transform fuzzer checks on any text. Here each question answered exactly: which links are
// share links, where a resolution may be redirected, which answer is the post link, and its title.
TEST(ShareLinkResolutionPolicyTest, AnswersEachQuestionOfTheTable) {
    const std::map<std::string, ShareLinkService> services = {{"reddit", ShareLinkService::reddit},
                                                              {"instagram", ShareLinkService::instagram},
                                                              {"threads", ShareLinkService::threads}};
    const auto cases = testing::readCases("transform/share-links.json");
    ASSERT_GT(cases.size(), 60U);
    for (const auto& row : cases) {
        const std::string question = row[0];
        const std::string link = row[1];
        SCOPED_TRACE(question + " " + link);
        if (question == "service") {
            const auto expected = text(row[2]);
            EXPECT_EQ(Policy::service(link), expected ? std::optional(services.at(*expected)) : std::nullopt);
        } else if (question == "redirect") {
            EXPECT_EQ(Policy::allowedRedirect(link, services.at(row[2])), row[3].get<bool>());
        } else if (question == "canonical") {
            const std::string candidate = row[2];
            EXPECT_EQ(Policy::validatedCanonicalURL(link, candidate),
                      row[3].get<bool>() ? std::optional(candidate) : std::nullopt);
        } else {
            ASSERT_EQ(question, "title");
            EXPECT_EQ(Policy::redditTitle(link), text(row[2]));
        }
    }
    EXPECT_FALSE(Policy::allowedRedirectHost(std::nullopt, ShareLinkService::reddit));
    EXPECT_FALSE(Policy::allowedRedirectHost("", ShareLinkService::reddit));
    EXPECT_TRUE(Policy::allowedRedirectHost("WWW.Threads.NET", ShareLinkService::threads));
}

// A title is cut to 119 characters, trailing blanks dropped, and an ellipsis added: counted in
// characters, not bytes.
TEST(ShareLinkResolutionPolicyTest, LongRedditTitlesAreCutByCharacters) {
    const std::string post = "https://www.reddit.com/r/cpp/comments/abc/";
    EXPECT_EQ(Policy::redditTitle(post + repeated("abcdef_", 18)), repeated("abcdef ", 16) + "abcdef\u2026");
    EXPECT_EQ(Policy::redditTitle(post + repeated("%C3%A9", 120)), repeated("\u00E9", 120));
    EXPECT_EQ(Policy::redditTitle(post + repeated("%C3%A9", 121)), repeated("\u00E9", 119) + "\u2026");
}

}  // namespace
}  // namespace tessaril
