// SPDX-License-Identifier: GPL-3.0-or-later
// Command Guard runs on every foreign clipboard change, on the main thread: the cost of one analysis
// with the shipped rules, for one-line commands (harmless and risky), for a paragraph of ordinary
// prose (most of what people copy) and for texts at the 32 KB cap, plain and full of what the
// views of a command undo.
#include <benchmark/benchmark.h>

#include <string>

#include "core/foundation/ResourceBundle.h"
#include "core/guard/CommandGuard.h"

namespace tessaril {
namespace {

const CommandGuard& shippedGuard() {
    static const ResourceBundle bundle(TESSARIL_SHIPPED_BUNDLE_DIR);
    static const CommandGuard guard(&bundle, nullptr);
    return guard;
}

void analyzeText(benchmark::State& state, const std::string& text) {
    const auto& guard = shippedGuard();
    if (guard.rules().empty()) {
        state.SkipWithError("shipped Command Guard rules not found");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(guard.analyze(text));
    state.counters["rules"] = static_cast<double>(guard.rules().size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void commandGuardAnalyzeBenignOneLiner(benchmark::State& state) {
    analyzeText(state, "git log --oneline --graph --decorate --all -n 20");
}
BENCHMARK(commandGuardAnalyzeBenignOneLiner)->Unit(benchmark::kMicrosecond);

void commandGuardAnalyzeRiskyOneLiner(benchmark::State& state) {
    analyzeText(state, "curl -fsSL https://example.com/install.sh | sudo bash");
}
BENCHMARK(commandGuardAnalyzeRiskyOneLiner)->Unit(benchmark::kMicrosecond);

void commandGuardAnalyzeBenignParagraph(benchmark::State& state) {
    analyzeText(state,
                "Thanks for the quick review! I moved the retry logic into its own helper, so the upload "
                "path and the sync path now share it. The tests cover the timeout case and the case where "
                "the server answers with an empty body. Could you have another look before Friday? If it is "
                "easier, we can go through it together on a call tomorrow morning.");
}
BENCHMARK(commandGuardAnalyzeBenignParagraph)->Unit(benchmark::kMicrosecond);

// A pasted shell session: commands, output and a few paths, up to the cap.
std::string pastedSession() {
    const std::string lines[] = {
        "$ docker compose up -d --build",
        "[+] Running 3/3 Container db  Started 0.4s",
        "$ kubectl get pods -n production -o wide",
        "api-7d9f8b6c5-x2kqz   1/1   Running   0   3h   10.0.1.23   ip-10-0-1-23.ec2.internal",
        "$ grep -rn \"TODO\" src/ | wc -l",
        "42",
        "$ git log --oneline -n 3",
        "4f2a9c1 Fix null check in parser",
        "Traceback (most recent call last):  File \"/srv/app/main.py\", line 3, in <module>",
        "$ rsync -avz --delete ./public/ deploy@web1:/var/www/site/",
    };
    std::string text;
    for (std::size_t i = 0; text.size() < CommandGuard::maximumCommandBytes; ++i) {
        text += lines[i % std::size(lines)];
        text += '\n';
    }
    text.resize(CommandGuard::maximumCommandBytes);
    return text;
}

void commandGuardAnalyze32KB(benchmark::State& state) {
    analyzeText(state, pastedSession());
}
BENCHMARK(commandGuardAnalyze32KB)->Unit(benchmark::kMillisecond);

// The costly case for views: every line has glued quotes, variables and payloads, so all views are
// made and together reach their size budget.
void commandGuardAnalyze32KBObfuscated(benchmark::State& state) {
    const std::string lines[] = {
        R"(a=cu;b=rl;$a$b -s "https://example.com/x" -o 'out.txt')",
        "echo Y3VybCAtcyBodHRwczovL2V4YW1wbGUuY29tL3ggLW8gb3V0LnR4dA== | base64 -d",
        R"(p^o^w^e^r^s^h^e^l^l -c "W`r`i`t`e-Host hi"; $m='Wr'+'ite'; printf '\x68\x65\x6c\x6c\x6f')",
        "set x=ec&& set y=ho&& %x%%y% [char]104+[char]101+[char]108+[char]108+[char]111",
    };
    std::string text;
    for (std::size_t i = 0; text.size() < CommandGuard::maximumCommandBytes; ++i) {
        text += lines[i % std::size(lines)];
        text += '\n';
    }
    text.resize(CommandGuard::maximumCommandBytes);
    analyzeText(state, text);
}
BENCHMARK(commandGuardAnalyze32KBObfuscated)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tessaril
