// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "core/foundation/RulePrefilter.h"
#include "core/guard/CommandGuard.h"
#include "core/guard/RuleBundle.h"
#include "tests/guard/GuardTestSupport.h"

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
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
    EXPECT_TRUE(CommandGuard::ruleBundleVersion(data).has_value());
    EXPECT_GE(bundle->rules.size(), 40U);

    std::set<std::string> ids;
    for (const auto& rule : bundle->rules) {
        EXPECT_TRUE(ids.insert(rule.id).second) << "duplicate id " << rule.id;
        EXPECT_FALSE(rule.platform.empty()) << rule.id;
        EXPECT_FALSE(rule.summary.empty()) << rule.id;
        EXPECT_GE(rule.explanation.size(), 40U) << rule.id;
        EXPECT_TRUE(Regex::compile(rule.pattern).has_value()) << rule.id << " does not compile";
    }
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

    std::size_t risky = 0, riskyFlagged = 0, danger = 0, dangerFlagged = 0, benign = 0, benignFlagged = 0;
    for (const auto& sample : samples) {
        const bool atWarning = guard.analyze(sample.text, CommandRiskSeverity::warning).has_value();
        if (sample.label == "benign") {
            ++benign;
            if (atWarning) {
                ++benignFlagged;
                std::printf("  false positive [%s]: %s (%s)\n", sample.kind.c_str(), sample.text.c_str(),
                            guard.analyze(sample.text)->primaryFinding()->id.c_str());
            }
            continue;
        }
        ++risky;
        if (atWarning) {
            ++riskyFlagged;
        } else {
            std::printf("  missed [%s %s]: %s\n", sample.label.c_str(), sample.kind.c_str(), sample.text.c_str());
        }
        if (sample.label == "danger") {
            ++danger;
            if (guard.analyze(sample.text, CommandRiskSeverity::danger)) {
                ++dangerFlagged;
            } else if (atWarning) {
                std::printf("  only warning [%s]: %s\n", sample.kind.c_str(), sample.text.c_str());
            }
        }
    }
    ASSERT_GT(risky, 0U);
    ASSERT_GT(danger, 0U);
    ASSERT_GT(benign, 0U);
    const double recallWarning = static_cast<double>(riskyFlagged) / static_cast<double>(risky);
    const double recallDanger = static_cast<double>(dangerFlagged) / static_cast<double>(danger);
    const double falsePositives = static_cast<double>(benignFlagged) / static_cast<double>(benign);
    std::printf("recall at warning: %zu/%zu = %.3f\n", riskyFlagged, risky, recallWarning);
    std::printf("recall at danger (danger samples): %zu/%zu = %.3f\n", dangerFlagged, danger, recallDanger);
    std::printf("false positives at warning: %zu/%zu = %.3f\n", benignFlagged, benign, falsePositives);
    EXPECT_GE(recallWarning, 0.97);
    EXPECT_GE(recallDanger, 0.90);
    EXPECT_LE(falsePositives, 0.01);
}

std::string asciiUpper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// The prefilters may only skip texts the expression cannot match: checked on every labelled sample,
// also upper-cased, since the case-insensitive rules compare folded text.
TEST(ShippedRules, PrefiltersNeverHideAMatch) {
    const auto samples = evaluationSet();
    const auto guard = shippedGuard();
    std::size_t skipped = 0;
    for (const auto& rule : guard.rules()) {
        Regex regex = rule.regex;
        for (const auto& sample : samples) {
            for (const std::string& text : {sample.text, asciiUpper(sample.text)}) {
                const bool passes = rule.mayMatch(text, RulePrefilter::foldForMatching(text));
                if (passes) continue;
                ++skipped;
                EXPECT_FALSE(regex.search(text)) << rule.definition.id << ": " << text;
            }
        }
    }
    // The filters must also earn their keep: most rule and text pairs never reach ICU.
    EXPECT_GT(skipped, guard.rules().size() * samples.size());
}

}  // namespace
}  // namespace tessaril
