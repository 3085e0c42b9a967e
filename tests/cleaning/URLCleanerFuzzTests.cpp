// SPDX-License-Identifier: GPL-3.0-or-later
// Inputs the cleaning-pipeline fuzzer found, kept so the same faults cannot come back.
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "tests/cleaning/RulesTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tessaril {
namespace {

std::string cleanedOnce(URLCleaner& cleaner, std::string_view link) {
    const auto result = cleaner.clean(link);
    return result ? result->cleanedURL : std::string(link);
}

// A wrapper whose encoded target ends in a line break or blank handed back the target with that
// tail, still carrying its trackers (the tail stopped it from parsing); cleaning the output again then
// removed them. The target is now trimmed before it is cleaned.
TEST(URLCleanerFuzzTest, WrapperTargetEndingInWhiteSpaceIsTrimmedAndCleaned) {
    InMemoryUserDefaults defaults;
    RulesEngine engine(defaults, RulesEngineEnvironment{nullptr, nullptr, [](std::string_view) {}});
    ASSERT_TRUE(engine.loadRules(
        testing::readFile(std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data/cleaning/providers.json")));
    URLCleaner cleaner(engine);

    for (std::string_view tail : {"%0A", "%20", "%0D%0A", "%E2%80%A8", "%09%20"}) {
        SCOPED_TRACE(tail);
        const std::string wrapper =
            "https://out.example/r?u=https%3A%2F%2Fnews.example%2Fa%3Fid%3D1%26utm_source%3Dx" + std::string(tail);
        const auto result = cleaner.clean(wrapper);
        ASSERT_TRUE(result.has_value());
        EXPECT_EQ(result->cleanedURL, "https://news.example/a?id=1");
        EXPECT_EQ(result->paramsRemoved, 2);
        ASSERT_EQ(result->operations.size(), 2u);
        EXPECT_EQ(result->operations.front().outputURL, "https://news.example/a?id=1&utm_source=x");
        EXPECT_FALSE(cleaner.clean(result->cleanedURL).has_value());
    }

    // White space inside the target still makes it unparseable: it is handed back as decoded, and
    // cleaning that again finds no link to clean.
    const std::string inner = cleanedOnce(cleaner, "https://out.example/r?u=https%3A%2F%2Fnews.example%2Fa%20b");
    EXPECT_EQ(inner, "https://news.example/a b");
    EXPECT_EQ(cleaner.cleanWithOutcome(inner).kind(), CleanOutcome::Kind::invalid);
}

}  // namespace
}  // namespace tessaril
