// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/EngineCalls.h"

#include <string>
#include <unordered_map>

#include "core/foundation/Text.h"

namespace tessaril::bench {

namespace {

constexpr std::size_t kOffsetBits = 20;

bool isTarget(std::string_view raw) {
    const std::string target = text::asciiLower(text::percentDecode(raw).value_or(std::string(raw)));
    return target.starts_with("http://") || target.starts_with("https://");
}

}  // namespace

EngineCalls::EngineCalls(const RulesEngine& engine, const std::vector<std::string>& links)
    : engine_(engine), links_(links) {
    // The URL patterns once per distinct text, as the engine searches them.
    std::unordered_map<std::string, std::uint32_t> seen;
    std::vector<std::pair<std::uint32_t, RulePrefilter>> urlPatterns;
    for (const auto& provider : engine.compiledProviders()) {
        const std::string& text = provider.urlRegex.pattern();
        if (!seen.emplace(text, 0).second) continue;
        urlPatterns.emplace_back(patternFor(provider.urlRegex), RulePrefilter::fromPattern(text, true));
    }
    std::vector<const CompiledProvider*> providers;
    for (std::uint32_t number = 0; number < links.size(); ++number)
        record(number, urlPatterns, providers);
}

std::uint32_t EngineCalls::patternFor(const Regex& regex) {
    const auto [found, added] = numbers_.try_emplace(&regex, static_cast<std::uint32_t>(patterns_.size()));
    if (!added) return found->second;
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    Pattern& pattern = patterns_.emplace_back();
    pattern.ours = &regex;
    pattern.theirs = std::make_unique<RE2>(regex.pattern(), options);
    return found->second;
}

void EngineCalls::record(std::uint32_t number, const std::vector<std::pair<std::uint32_t, RulePrefilter>>& urlPatterns,
                         std::vector<const CompiledProvider*>& providers) {
    const std::string_view link = links_[number];
    const std::string folded = RulePrefilter::foldForMatching(link);
    for (const auto& [pattern, filter] : urlPatterns) {
        if (filter.mayMatch(link, folded)) calls_.push_back({urlSearch, number, pattern});
    }
    providers = engine_.matchingProviders(link);
    for (const CompiledProvider* provider : providers) {
        for (std::size_t i = 0; i < provider->exceptionRegexes.size(); ++i) {
            if (!provider->exceptionPrefilters[i].mayMatch(link, folded)) continue;
            calls_.push_back({exceptionSearch, number, patternFor(provider->exceptionRegexes[i])});
            if (provider->exceptionRegexes[i].search(link)) break;
        }
        for (const auto& rule : provider->redirectionRegexes) {
            if (rule.regex.captureGroupCount() == 0 || !rule.prefilter.mayMatch(link, folded)) continue;
            calls_.push_back({redirection, number, patternFor(rule.regex)});
            const auto match = rule.regex.firstMatch(link);
            if (match && match->groups[0] &&
                isTarget(link.substr(match->groups[0]->begin, match->groups[0]->end - match->groups[0]->begin)))
                break;
        }
        // Every shipped provider has one path rule at most, so each runs on the link as it came.
        for (const auto& rule : provider->rawRuleRegexes) {
            if (rule.prefilter.mayMatch(link, folded)) calls_.push_back({pathRule, number, patternFor(rule.regex)});
        }
    }
}

std::size_t EngineCalls::runOurs(const Call& call) const {
    const std::string_view link = links_[call.link];
    const Regex& regex = *patterns_[call.pattern].ours;
    if (!regex.search(link)) return 0;
    switch (call.kind) {
        case urlSearch:
        case exceptionSearch:
            return 1;
        case redirection: {
            const auto match = regex.firstMatch(link);
            if (!match || !match->groups[0]) return 1;
            return (match->groups[0]->begin << kOffsetBits) + match->groups[0]->end + 2;
        }
        case pathRule:
            return regex.replaceAll(link, "").size() + 1;
    }
    return 0;
}

std::size_t EngineCalls::runRe2(const Call& call) const {
    const std::string_view link = links_[call.link];
    const re2::StringPiece text(link.data(), link.size());
    const RE2& regex = *patterns_[call.pattern].theirs;
    switch (call.kind) {
        case urlSearch:
        case exceptionSearch:
            return RE2::PartialMatch(text, regex) ? 1 : 0;
        case redirection: {
            re2::StringPiece group;
            if (!RE2::PartialMatch(text, regex, &group)) return 0;
            if (group.data() == nullptr) return 1;
            const auto begin = static_cast<std::size_t>(group.data() - link.data());
            return (begin << kOffsetBits) + begin + group.size() + 2;
        }
        case pathRule: {
            std::string cut(link);
            return RE2::GlobalReplace(&cut, regex, "") > 0 ? cut.size() + 1 : 0;
        }
    }
    return 0;
}

std::size_t EngineCalls::replayOurs(unsigned kinds) const {
    std::size_t sum = 0;
    for (const Call& call : calls_) {
        if ((kinds >> call.kind & 1U) != 0) sum += runOurs(call);
    }
    return sum;
}

std::size_t EngineCalls::replayRe2(unsigned kinds) const {
    std::size_t sum = 0;
    for (const Call& call : calls_) {
        if ((kinds >> call.kind & 1U) != 0) sum += runRe2(call);
    }
    return sum;
}

bool EngineCalls::agree(std::string& difference) const {
    for (const Call& call : calls_) {
        if (runOurs(call) == runRe2(call)) continue;
        difference = patterns_[call.pattern].ours->pattern() + " on " + links_[call.link];
        return false;
    }
    return true;
}

std::size_t EngineCalls::count(Kind kind) const {
    std::size_t total = 0;
    for (const Call& call : calls_)
        total += call.kind == kind ? 1 : 0;
    return total;
}

}  // namespace tessaril::bench
