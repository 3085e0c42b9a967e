// SPDX-License-Identifier: GPL-3.0-or-later
// The converter from the community's URL-tracking filter list, on any list text. The first byte
// picks whether the text is the list (0) or the allowlist applied to a fixed list (1). No exception;
// every rule line is accounted for, taken or left out with a reason, and nothing else is counted;
// each line's rules are exceptions exactly when the line starts with "@@", and a rule that removes
// something names what it removes; the written file is a supplementary rule file whose every pattern
// compiles, that names as many converted providers as the report says, and that a bundle check
// accepts or refuses only for what its rules do to ordinary links, never for its form.
#include "core/cleaning/Provider.h"
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/Regex.h"
#include "core/foundation/Text.h"
#include "fuzz/FuzzSupport.h"
#include "tools/filter-converter/FilterConversion.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>

namespace {

using namespace tessaril;

constexpr std::string_view kOwnProviders = R"json({"providers": {
  "own": {"urlPattern": "^https?://(?:[a-z0-9-]+\\.)*own\\.example/", "rules": ["ownref"]}
}})json";

constexpr std::string_view kMainRules = R"json({"providers": {
  "everywhere": {"urlPattern": "^https?:\\/\\/", "rules": ["utm_source"]}
}})json";

// A list for the allowlist mode to act on: every-site names, one site, a site list with a negation.
constexpr std::string_view kFixedList =
    "$removeparam=gclid\n$removeparam=/^utm_/\n||shop.example^$removeparam=ref\n"
    "$removeparam=src,domain=a.example|~b.example\n";

// Comments and blank lines are the converter's own to pass over; every other line is a rule.
std::size_t ruleLines(std::string_view text) {
    std::size_t count = 0;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        const std::string_view trimmed = text::trim(line);
        if (!trimmed.empty() && !trimmed.starts_with('!')) ++count;
    }
    return count;
}

void checkLines(std::string_view text) {
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        const std::string_view trimmed = text::trim(line);
        if (trimmed.empty() || trimmed.starts_with('!')) continue;
        const auto parsed = filters::parseFilterLine(trimmed);
        const auto* rules = std::get_if<std::vector<filters::FilterRule>>(&parsed);
        if (rules == nullptr) continue;
        FUZZ_CHECK(!rules->empty());
        for (const auto& rule : *rules) {
            FUZZ_CHECK(rule.exception == trimmed.starts_with("@@"));
            FUZZ_CHECK(rule.exception || !rule.namePattern.empty());
            FUZZ_CHECK(rule.site.empty() == rule.urlPattern.empty());
        }
    }
}

void checkDocument(const filters::Conversion& conversion) {
    const std::string written = conversion.document.dump(1);
    const auto file = ProvidersFile::decode(written);
    FUZZ_CHECK(file.has_value());
    std::size_t converted = 0;
    for (const auto& [name, provider] : file->providers) {
        if (name == "own") continue;
        ++converted;
        FUZZ_CHECK(!provider.rules.empty());
        FUZZ_CHECK(Regex::compile(provider.urlPattern, true).has_value());
        for (const auto* patterns : {&provider.rules, &provider.exceptions}) {
            for (const auto& pattern : *patterns)
                FUZZ_CHECK(Regex::compile(pattern, true).has_value());
        }
    }
    FUZZ_CHECK(converted == conversion.report.providers);

    // What the updater and the start-up check would say of a bundle holding it: a list may well
    // remove a parameter ordinary links need, but its file is always well formed.
    InMemoryUserDefaults defaults;
    const auto problem = RulesEngine::validateRuleBundle(defaults, kMainRules, written);
    FUZZ_CHECK(!problem || *problem == "Local functional smoke checks failed");
}

void run(bool allowlistMode, std::string_view text) {
    const std::vector<filters::FilterListFile> lists{{"fuzz", std::string(allowlistMode ? kFixedList : text)}};
    const std::string_view exceptions = allowlistMode ? text : std::string_view{};
    const auto conversion = filters::convertFilterLists(kOwnProviders, lists, exceptions, "Fuzz list");
    FUZZ_CHECK(conversion.has_value());

    const filters::ConversionReport& report = conversion->report;
    std::size_t accounted = report.rulesTaken + report.exceptionsApplied + report.exceptionsUnmatched;
    for (const auto& [reason, count] : report.skipped)
        accounted += count;
    for (const auto& [reason, count] : report.exceptionsSkipped)
        accounted += count;
    FUZZ_CHECK(accounted == (allowlistMode ? ruleLines(kFixedList) : 0) + ruleLines(text));

    checkLines(text);
    checkDocument(*conversion);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 8192) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        run((data[0] & 1U) != 0, text);
    } catch (...) {
        fuzz::propertyFailed("a filter list made the converter throw", __FILE__, __LINE__);
    }
    return 0;
}
