// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/Re2LinkRules.h"

#include <algorithm>

#include "core/cleaning/RulesEngine.h"
#include "core/foundation/Text.h"

namespace tessaril::bench {

namespace {

RE2::Options patternOptions() {
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    return options;
}

bool startsWithHttp(std::string_view text) {
    const auto lower = text::asciiLower(text.substr(0, 8));
    return lower.starts_with("http://") || lower.starts_with("https://");
}

}  // namespace

Re2LinkRules::Re2LinkRules(const std::vector<std::pair<std::string, Provider>>& providers, Design design,
                           int minAtomLen)
    : design_(design), filter_(minAtomLen) {
    providers_.reserve(providers.size());
    for (const auto& [name, provider] : providers) {
        ProviderPatterns& own = providers_.emplace_back();
        own.url = add(provider.urlPattern);
        urlProviders_.resize(patterns_.size());
        urlProviders_[own.url].push_back(static_cast<std::uint32_t>(providers_.size() - 1));
        for (const auto& pattern : provider.exceptions)
            own.exceptions.push_back(add(pattern));
        for (const auto& pattern : provider.redirections)
            own.redirections.push_back(add(pattern));
        for (const auto& pattern : provider.rawRules)
            own.pathRules.push_back(add(pattern));
    }
    urlProviders_.resize(patterns_.size());
    if (design_ == Design::filtered) {
        buildAtoms();
    } else {
        buildSets();
    }
}

std::uint32_t Re2LinkRules::add(const std::string& pattern) {
    const auto [found, added] = patternNumbers_.try_emplace(pattern, static_cast<std::uint32_t>(patterns_.size()));
    if (!added) return found->second;
    Pattern& entry = patterns_.emplace_back();
    if (design_ == Design::filtered) {
        int id = -1;
        if (filter_.Add(pattern, patternOptions(), &id) == RE2::NoError) {
            entry.filtered = id;
            filteredToPattern_.resize(static_cast<std::size_t>(id) + 1);
            filteredToPattern_[static_cast<std::size_t>(id)] = found->second;
            return found->second;
        }
    } else {
        entry.own = std::make_unique<RE2>(pattern, patternOptions());
        if (entry.own->ok()) return found->second;
        entry.own.reset();
    }
    const RE2 diagnosis(pattern, patternOptions());
    rejected_.emplace_back(pattern, diagnosis.error());
    if (auto regex = Regex::compile(pattern, true)) {
        regex->setWorkLimit(RulesEngine::matchWorkLimit);
        regex->setFastPathEnabled(false);
        entry.fallback = std::make_unique<Regex>(std::move(*regex));
    }
    fallbacks_.push_back(found->second);
    return found->second;
}

void Re2LinkRules::buildAtoms() {
    std::vector<std::string> atoms;
    filter_.Compile(&atoms);
    atomCount_ = atoms.size();
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
}

void Re2LinkRules::buildSets() {
    std::vector<std::pair<std::uint32_t, std::string_view>> members;
    for (std::uint32_t pattern = 0; pattern < patterns_.size(); ++pattern) {
        if (!urlProviders_[pattern].empty() && patterns_[pattern].own)
            members.emplace_back(pattern, patterns_[pattern].own->pattern());
    }
    (void)urlSet_.build(members);
    members.clear();
    std::vector<bool> taken(patterns_.size());
    for (const auto& provider : providers_) {
        for (const std::uint32_t pattern : provider.exceptions) {
            if (!patterns_[pattern].own || taken[pattern]) continue;
            taken[pattern] = true;
            members.emplace_back(pattern, patterns_[pattern].own->pattern());
        }
    }
    (void)exceptionSet_.build(members);
}

std::size_t Re2LinkRules::unfilteredCount() const {
    if (design_ != Design::filtered) return fallbacks_.size();
    std::vector<int> potentials;
    filter_.AllPotentials({}, &potentials);
    return potentials.size() + fallbacks_.size();
}

void Re2LinkRules::scan(std::string_view text, Scan& scan) const {
    scan.text = text;
    if (++scan.stamp == 0) {
        std::fill(scan.candidateStamp.begin(), scan.candidateStamp.end(), 0);
        std::fill(scan.exceptionStamp.begin(), scan.exceptionStamp.end(), 0);
        scan.stamp = 1;
    }
    if (design_ == Design::sets) {
        scan.urlMatches.clear();
        urlSet_.match(text, scan.urlMatches, scan.setScratch);
        scan.exceptionsFound = false;
        return;
    }
    scan.atoms.clear();
    if (atoms_) (void)atoms_->Match(re2::StringPiece(text.data(), text.size()), &scan.atoms);
    filter_.AllPotentials(scan.atoms, &scan.potentials);
    scan.candidateStamp.resize(patterns_.size());
    for (const int id : scan.potentials)
        scan.candidateStamp[filteredToPattern_[static_cast<std::size_t>(id)]] = scan.stamp;
    for (const std::uint32_t pattern : fallbacks_)
        scan.candidateStamp[pattern] = scan.stamp;
}

bool Re2LinkRules::candidate(const Scan& scan, std::uint32_t pattern) const {
    return design_ == Design::sets || scan.candidateStamp[pattern] == scan.stamp;
}

const RE2* Re2LinkRules::re2(std::uint32_t pattern) const {
    const Pattern& entry = patterns_[pattern];
    if (entry.filtered >= 0) return &filter_.GetRE2(entry.filtered);
    return entry.own.get();
}

bool Re2LinkRules::search(std::string_view text, std::uint32_t pattern) const {
    if (const RE2* regex = re2(pattern)) return RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), *regex);
    const auto& fallback = patterns_[pattern].fallback;
    return fallback && fallback->search(text);
}

void Re2LinkRules::matchingProviders(Scan& scan, std::vector<std::uint32_t>& out) const {
    out.clear();
    const auto add = [&](std::uint32_t pattern) {
        const auto& owners = urlProviders_[pattern];
        out.insert(out.end(), owners.begin(), owners.end());
    };
    if (design_ == Design::sets) {
        for (const std::uint32_t pattern : scan.urlMatches)
            add(pattern);
    } else {
        for (const int id : scan.potentials) {
            const std::uint32_t pattern = filteredToPattern_[static_cast<std::size_t>(id)];
            if (!urlProviders_[pattern].empty() && search(scan.text, pattern)) add(pattern);
        }
    }
    for (const std::uint32_t pattern : fallbacks_) {
        if (!urlProviders_[pattern].empty() && search(scan.text, pattern)) add(pattern);
    }
    std::sort(out.begin(), out.end());
}

bool Re2LinkRules::isException(Scan& scan, std::uint32_t provider) const {
    const ProviderPatterns& own = providers_[provider];
    if (design_ == Design::sets) {
        if (!scan.exceptionsFound) {
            scan.exceptionsFound = true;
            scan.exceptionMatches.clear();
            exceptionSet_.match(scan.text, scan.exceptionMatches, scan.setScratch);
            scan.exceptionStamp.resize(patterns_.size());
            for (const std::uint32_t pattern : scan.exceptionMatches)
                scan.exceptionStamp[pattern] = scan.stamp;
        }
        return std::any_of(own.exceptions.begin(), own.exceptions.end(), [&](std::uint32_t pattern) {
            if (patterns_[pattern].own) return scan.exceptionStamp[pattern] == scan.stamp;
            return patterns_[pattern].fallback && patterns_[pattern].fallback->search(scan.text);
        });
    }
    return std::any_of(own.exceptions.begin(), own.exceptions.end(),
                       [&](std::uint32_t pattern) { return candidate(scan, pattern) && search(scan.text, pattern); });
}

std::optional<std::string> Re2LinkRules::redirection(Scan& scan, std::uint32_t provider) const {
    const std::string_view url = scan.text;
    for (const std::uint32_t pattern : providers_[provider].redirections) {
        if (!candidate(scan, pattern)) continue;
        const Pattern& entry = patterns_[pattern];
        std::string_view raw;
        if (const RE2* regex = re2(pattern)) {
            re2::StringPiece group;
            if (regex->NumberOfCapturingGroups() == 0 ||
                !RE2::PartialMatch(re2::StringPiece(url.data(), url.size()), *regex, &group) || group.data() == nullptr)
                continue;
            raw = std::string_view(group.data(), group.size());
        } else {
            if (!entry.fallback || entry.fallback->captureGroupCount() == 0) continue;
            const auto match = entry.fallback->firstMatch(url);
            if (!match || match->groups.empty() || !match->groups[0]) continue;
            raw = url.substr(match->groups[0]->begin, match->groups[0]->end - match->groups[0]->begin);
        }
        std::string target = text::percentDecode(raw).value_or(std::string(raw));
        if (startsWithHttp(target)) return target;
    }
    return std::nullopt;
}

std::optional<std::string> Re2LinkRules::cutPathRules(Scan& scan, std::uint32_t provider) const {
    std::optional<std::string> result;
    bool changed = false;
    for (const std::uint32_t pattern : providers_[provider].pathRules) {
        // The atoms were found in the link as it came; once a cut has changed it, every rule runs.
        if (!changed && !candidate(scan, pattern)) continue;
        if (!result) result.emplace(scan.text);
        if (const RE2* regex = re2(pattern)) {
            (void)RE2::GlobalReplace(&*result, *regex, "");
        } else if (const auto& fallback = patterns_[pattern].fallback) {
            *result = fallback->replaceAll(*result, "");
        }
        changed = *result != scan.text;
    }
    if (!changed) return std::nullopt;
    return result;
}

}  // namespace tessaril::bench
