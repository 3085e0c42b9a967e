// SPDX-License-Identifier: GPL-3.0-or-later
// Inputs the Command Guard fuzzer found, kept so the same faults cannot come back.
#include "core/clipboard/CommandGuard.h"

#include <gtest/gtest.h>

#include <string>

namespace tessaril {
namespace {

const std::string kHeader(CommandGuard::neutralizedHeader);

// A terminal without bracketed paste runs what follows a lone carriage return, so it starts a
// commented line of its own; CR LF is still one line break.
TEST(NeutralizedCommandFuzzTest, LoneCarriageReturnStartsACommentedLine) {
    EXPECT_EQ(CommandGuard::neutralizedCommand("echo hi\rrm -rf ~"), kHeader + "# echo hi\r# rm -rf ~");
    EXPECT_EQ(CommandGuard::neutralizedCommand("\x90\r{"), kHeader + "# \x90\r# {");
    EXPECT_EQ(CommandGuard::neutralizedCommand("a\r\r\nb\n\rc"), kHeader + "# a\r# \r\n# b\n# \r# c");
    EXPECT_EQ(CommandGuard::neutralizedCommand("a\r\nb"), kHeader + "# a\r\n# b");
    // Trimming takes a trailing carriage return, and a continuation before CR LF still joins lines.
    EXPECT_EQ(CommandGuard::neutralizedCommand("ls \\\r\n-la\r"), kHeader + "# ls  -la");
}

}  // namespace
}  // namespace tessaril
