// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/Re2LinkRules.h"

#include <algorithm>

#include "core/cleaning/RedirectTarget.h"
#include "core/cleaning/WrapperDecoding.h"
#include "core/foundation/RulePrefilter.h"

namespace tessaril::bench {

namespace {

RE2::Options patternOptions() {
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    return options;
}

re2::StringPiece piece(std::string_view text) {
    return {text.data(), text.size()};
}

}  // namespace

Re2LinkRules::Re2LinkRules(std::span<const CompiledProvider> providers, Design design) : design_(design) {
    // The URL patterns first, so that in the fragment index group i is URL pattern i.
    for (std::uint32_t number = 0; number < providers.size(); ++number) {
        const std::uint32_t pattern = add(providers[number].urlRegex.pattern());
        if (patterns_[pattern].urlProviders.empty()) urlPatterns_.push_back(pattern);
        patterns_[pattern].urlProviders.push_back(number);
    }
    for (const CompiledProvider& provider : providers) {
        ProviderPatterns& own = providers_.emplace_back();
        for (const Regex& regex : provider.exceptionRegexes)
            own.exceptions.push_back(add(regex.pattern()));
        for (const auto& rule : provider.redirectionRegexes)
            own.redirections.push_back(add(rule.pattern));
        for (const auto& rule : provider.encodedRedirectionRegexes)
            own.encodedRedirections.emplace_back(add(rule.pattern), rule.encoding);
        for (const auto& rule : provider.rawRuleRegexes)
            own.pathRules.push_back(add(rule.pattern));
        own.hasParameterRules = !provider.paramRegexes.empty() || !provider.referralParamRegexes.empty();
    }
    build();
}

std::uint32_t Re2LinkRules::add(std::string_view text) {
    const auto [found, added] = numbers_.try_emplace(std::string(text), static_cast<std::uint32_t>(patterns_.size()));
    if (!added) return found->second;
    Pattern& pattern = patterns_.emplace_back();
    if (design_ == Design::filtered) {
        int id = -1;
        if (filter_.Add(piece(text), patternOptions(), &id) == RE2::NoError) {
            filteredToPattern_.resize(static_cast<std::size_t>(id) + 1);
            filteredToPattern_[static_cast<std::size_t>(id)] = found->second;
            return found->second;
        }
    } else {
        pattern.own = std::make_unique<RE2>(piece(text), patternOptions());
        if (pattern.own->ok()) {
            pattern.regex = pattern.own.get();
            if (design_ == Design::fragments)
                pattern.filter = fragmentIndex_.add(RulePrefilter::fromPattern(text, true));
            return found->second;
        }
    }
    const RE2 diagnosis(piece(text), patternOptions());
    rejected_.emplace_back(text, diagnosis.error());
    pattern.own.reset();
    return found->second;
}

void Re2LinkRules::build() {
    if (design_ == Design::filtered) {
        std::vector<std::string> atoms;
        filter_.Compile(&atoms);
        for (std::size_t id = 0; id < filteredToPattern_.size(); ++id)
            patterns_[filteredToPattern_[id]].regex = &filter_.GetRE2(static_cast<int>(id));
        if (atoms.empty()) return;
        // The atoms come lower-cased; a case-insensitive set finds them in the link as it is, with the
        // same case folding RE2 applies to the patterns themselves.
        RE2::Options options;
        options.set_literal(true);
        options.set_case_sensitive(false);
        atoms_ = std::make_unique<RE2::Set>(options, RE2::UNANCHORED);
        for (const auto& atom : atoms)
            (void)atoms_->Add(atom, nullptr);
        if (!atoms_->Compile()) atoms_.reset();
    } else {
        for (const std::uint32_t pattern : urlPatterns_)
            (void)fragmentIndex_.addGroup(std::span(&patterns_[pattern].filter, 1));
        fragmentIndex_.build();
    }
}

void Re2LinkRules::rescan(std::string_view text, Scan& scan) const {
    scan.text = text;
    scan.exceptionAnswers.assign(providers_.size(), 0);
    if (design_ == Design::fragments) {
        fragmentIndex_.scan(text, scan.fragments);
        return;
    }
    // The patterns whose atoms the text holds are marked with the scan's stamp.
    scan.candidateStamp.resize(patterns_.size());
    if (++scan.stamp == 0) {
        std::fill(scan.candidateStamp.begin(), scan.candidateStamp.end(), 0);
        scan.stamp = 1;
    }
    scan.atoms.clear();
    if (atoms_) (void)atoms_->Match(piece(text), &scan.atoms);
    filter_.AllPotentials(scan.atoms, &scan.potentials);
    for (const int id : scan.potentials)
        scan.candidateStamp[filteredToPattern_[static_cast<std::size_t>(id)]] = scan.stamp;
}

void Re2LinkRules::match(std::string_view text, Scan& scan) const {
    rescan(text, scan);
    scan.providers.clear();
    const auto found = [&](std::uint32_t pattern) {
        const auto& owners = patterns_[pattern].urlProviders;
        scan.providers.insert(scan.providers.end(), owners.begin(), owners.end());
    };
    if (design_ == Design::fragments) {
        FragmentIndex::forEachLive(0, static_cast<std::uint32_t>(urlPatterns_.size()), scan.fragments,
                                   [&](std::uint32_t group) {
                                       const std::uint32_t pattern = urlPatterns_[group];
                                       if (candidate(scan, pattern) && search(text, pattern)) found(pattern);
                                   });
    } else {
        for (const int id : scan.potentials) {
            const std::uint32_t pattern = filteredToPattern_[static_cast<std::size_t>(id)];
            if (!patterns_[pattern].urlProviders.empty() && search(text, pattern)) found(pattern);
        }
    }
    std::sort(scan.providers.begin(), scan.providers.end());
}

bool Re2LinkRules::candidate(const Scan& scan, std::uint32_t pattern) const {
    if (design_ == Design::fragments) return fragmentIndex_.passes(patterns_[pattern].filter, scan.fragments);
    return scan.candidateStamp[pattern] == scan.stamp;
}

bool Re2LinkRules::search(std::string_view text, std::uint32_t pattern) const {
    const RE2* regex = patterns_[pattern].regex;
    return regex != nullptr && RE2::PartialMatch(piece(text), *regex);
}

bool Re2LinkRules::isException(Scan& scan, std::uint32_t provider) const {
    const auto& exceptions = providers_[provider].exceptions;
    if (exceptions.empty()) return false;
    std::uint8_t& answer = scan.exceptionAnswers[provider];
    if (answer == 0) {
        const bool found = std::any_of(exceptions.begin(), exceptions.end(), [&](std::uint32_t pattern) {
            return candidate(scan, pattern) && search(scan.text, pattern);
        });
        answer = found ? 2 : 1;
    }
    return answer == 2;
}

std::optional<std::string_view> Re2LinkRules::captured(const Scan& scan, std::uint32_t pattern) const {
    const RE2* regex = patterns_[pattern].regex;
    if (regex == nullptr || !candidate(scan, pattern) || regex->NumberOfCapturingGroups() == 0) return std::nullopt;
    re2::StringPiece group;
    if (!RE2::PartialMatch(piece(scan.text), *regex, &group) || group.data() == nullptr) return std::nullopt;
    return std::string_view(group.data(), group.size());
}

std::optional<std::string> Re2LinkRules::redirectTarget(const Scan& scan, std::uint32_t provider) const {
    for (const std::uint32_t pattern : providers_[provider].redirections) {
        if (auto text = captured(scan, pattern)) {
            if (auto target = tessaril::redirectTarget(*text)) return target;
        }
    }
    for (const auto& [pattern, encoding] : providers_[provider].encodedRedirections) {
        if (auto text = captured(scan, pattern)) {
            if (auto target = decodeWrappedTarget(encoding, *text)) return target;
        }
    }
    return std::nullopt;
}

std::optional<std::string> Re2LinkRules::cutPathRules(const Scan& scan, std::uint32_t provider) const {
    std::optional<std::string> result;
    bool changed = false;
    for (const std::uint32_t pattern : providers_[provider].pathRules) {
        const RE2* regex = patterns_[pattern].regex;
        // The filters answer for the text as scanned; once a cut has changed it, every rule runs.
        if (regex == nullptr || (!changed && !candidate(scan, pattern))) continue;
        if (!result) result.emplace(scan.text);
        (void)RE2::GlobalReplace(&*result, *regex, "");
        changed = *result != scan.text;
    }
    if (!changed) return std::nullopt;
    return result;
}

}  // namespace tessaril::bench
