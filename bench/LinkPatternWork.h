// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/Re2LinkRules.h"
#include "core/cleaning/RulesEngine.h"

namespace tessaril::bench {

// The pattern work the cleaner does for one link, in parts: selecting the providers whose URL
// pattern occurs in it always, then, as asked, the targets of redirect wrappers, the cuts of path
// rules and the providers' exceptions.
enum Parts : unsigned {
    kSelectOnly = 0,
    kRedirections = 1,
    kPathRules = 2,
    kExceptions = 4,
    kAllParts = kRedirections | kPathRules | kExceptions,
};

// What the work found for one link: providers are numbered in the engine's order.
struct LinkAnswers {
    std::vector<std::uint32_t> providers;
    std::vector<std::pair<std::uint32_t, std::string>> targets;
    std::vector<std::pair<std::uint32_t, std::string>> cuts;
    std::vector<std::uint32_t> exceptions;

    void clear() {
        providers.clear();
        targets.clear();
        cuts.clear();
        exceptions.clear();
    }
    void provider(std::uint32_t number) { providers.push_back(number); }
    void target(std::uint32_t number, std::string&& text) { targets.emplace_back(number, std::move(text)); }
    void cut(std::uint32_t number, std::string&& text) { cuts.emplace_back(number, std::move(text)); }
    void exception(std::uint32_t number) { exceptions.push_back(number); }
};

// A sink that keeps only a sum of what was found, so that timed runs neither store answers nor let
// the compiler drop the work.
struct Tally {
    std::size_t value = 0;
    void provider(std::uint32_t number) { value += number; }
    void target(std::uint32_t number, std::string&& text) { value += number + text.size(); }
    void cut(std::uint32_t number, std::string&& text) { value += number + text.size(); }
    void exception(std::uint32_t number) { value += number; }
};

// The engine's own way, through its public questions, as the cleaner asks them.
class EngineWork {
public:
    explicit EngineWork(const RulesEngine& engine) : engine_(engine) {}

    template <typename Sink>
    void run(std::string_view link, unsigned parts, Sink& sink) {
        engine_.scan(link, scan_);
        engine_.matchingProviders(scan_, providers_);
        const CompiledProvider* const first = engine_.compiledProviders().data();
        const auto number = [first](const CompiledProvider* provider) {
            return static_cast<std::uint32_t>(provider - first);
        };
        for (const CompiledProvider* provider : providers_)
            sink.provider(number(provider));
        const std::size_t count = providers_.size();
        if ((parts & kRedirections) != 0) {
            for (std::size_t at = engine_.nextRedirectionProvider(scan_, providers_, 0); at < count;
                 at = engine_.nextRedirectionProvider(scan_, providers_, at + 1)) {
                if (auto target = engine_.extractRedirection(scan_, *providers_[at]))
                    sink.target(number(providers_[at]), std::move(*target));
            }
        }
        if ((parts & kPathRules) != 0) {
            for (std::size_t at = engine_.nextPathRuleProvider(scan_, providers_, 0); at < count;
                 at = engine_.nextPathRuleProvider(scan_, providers_, at + 1)) {
                std::string cut = engine_.applyRawRules(link, *providers_[at]);
                if (cut != link) sink.cut(number(providers_[at]), std::move(cut));
            }
        }
        if ((parts & kExceptions) != 0) {
            for (const CompiledProvider* provider : providers_) {
                if (engine_.isException(scan_, *provider)) sink.exception(number(provider));
            }
        }
    }

private:
    const RulesEngine& engine_;
    LinkScan scan_;
    std::vector<const CompiledProvider*> providers_;
};

// The same questions answered by RE2.
class Re2Work {
public:
    explicit Re2Work(const Re2LinkRules& rules) : rules_(rules) {}

    template <typename Sink>
    void run(std::string_view link, unsigned parts, Sink& sink) {
        rules_.scan(link, scan_);
        rules_.matchingProviders(scan_, providers_);
        for (const std::uint32_t provider : providers_)
            sink.provider(provider);
        if ((parts & kRedirections) != 0) {
            for (const std::uint32_t provider : providers_) {
                if (!rules_.hasRedirections(provider)) continue;
                if (auto target = rules_.redirection(scan_, provider)) sink.target(provider, std::move(*target));
            }
        }
        if ((parts & kPathRules) != 0) {
            for (const std::uint32_t provider : providers_) {
                if (!rules_.hasPathRules(provider)) continue;
                if (auto cut = rules_.cutPathRules(scan_, provider)) sink.cut(provider, std::move(*cut));
            }
        }
        if ((parts & kExceptions) != 0) {
            for (const std::uint32_t provider : providers_) {
                if (rules_.hasExceptions(provider) && rules_.isException(scan_, provider)) sink.exception(provider);
            }
        }
    }

private:
    const Re2LinkRules& rules_;
    Re2LinkRules::Scan scan_;
    std::vector<std::uint32_t> providers_;
};

}  // namespace tessaril::bench
