// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversions/MapLinkTransformer.h"
#include "tests/support/CaseTable.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tessaril {
namespace {

std::optional<std::string> converted(std::string_view link) {
    auto transformation = MapLinkTransformer::transform(link);
    return transformation ? std::optional(transformation->url) : std::nullopt;
}

// Each shape both services understand converts exactly; every other is refused, not approximated,
// and only plain https links of either service are taken. (That a conversion is a plain https link of
// the other service that converts back, and how its step is recorded, the link-transform fuzzer
// checks on every conversion.)
TEST(MapLinkTransformerTest, ConvertsExactlyOrNotAtAll) {
    const auto cases = testing::readCases("conversions/map-links.json");
    ASSERT_GT(cases.size(), 50U);
    for (const auto& row : cases) {
        const std::optional<std::string> expected =
            row[1].is_null() ? std::nullopt : std::optional(row[1].get<std::string>());
        EXPECT_EQ(converted(row[0].get<std::string>()), expected) << row[0];
    }
}

}  // namespace
}  // namespace tessaril
