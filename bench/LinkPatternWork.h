// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/Re2LinkRules.h"
#include "core/cleaning/URLCleaner.h"
#include "core/cleaning/matching/LinkMatch.h"
#include "core/cleaning/matching/RuleMatcher.h"

// The pattern work the cleaner does for one link, asked the way the cleaner asks: the providers
// whose URL pattern occurs in it; a redirect wrapper's target, and then the same questions of the
// target, as deep as the cleaner follows wrappers; otherwise the path rewrites and, when the link has
// a query, whether each provider whose parameter rules would apply excepts it. The parameter names
// themselves are left out: the name index answers them, and it would stay as it is.
namespace tessaril::bench {

// What the work found for one link; providers are numbered in the engine's order.
struct LinkAnswers {
    std::vector<std::uint32_t> providers;
    std::vector<std::pair<std::uint32_t, std::string>> targets;
    std::vector<std::pair<std::uint32_t, std::string>> rewrites;

    void provider(std::uint32_t number) { providers.push_back(number); }
    void target(std::uint32_t number, std::string_view text) { targets.emplace_back(number, text); }
    void rewrite(std::uint32_t number, std::string_view text) { rewrites.emplace_back(number, text); }
    bool operator==(const LinkAnswers&) const = default;
};

// A sink that keeps only a sum, so that timed runs neither store answers nor let the compiler drop
// the work.
struct Tally {
    std::size_t value = 0;
    void provider(std::uint32_t number) { value += number; }
    void target(std::uint32_t number, std::string_view text) { value += number + text.size(); }
    void rewrite(std::uint32_t number, std::string_view text) { value += number + text.size(); }
};

inline bool hasQuery(std::string_view link) {
    const std::size_t query = link.find('?');
    return query != std::string_view::npos && query + 1 < std::min(link.find('#'), link.size());
}

// The engine's own way, through the questions the cleaner asks.
class EngineWork {
public:
    explicit EngineWork(const RuleMatcher& matcher) : matcher_(matcher) {}

    template <typename Sink>
    void run(std::string_view link, Sink& sink) {
        const CompiledProvider* const first = matcher_.providers().data();
        const auto number = [first](const CompiledProvider* provider) {
            return static_cast<std::uint32_t>(provider - first);
        };
        for (int depth = 0;; ++depth) {
            matcher_.match(link, match_);
            for (const CompiledProvider* provider : match_.providers())
                sink.provider(number(provider));
            auto redirect = match_.providers().empty() ? std::nullopt : match_.redirect();
            if (!redirect) break;
            sink.target(number(redirect->provider), redirect->target);
            if (depth == URLCleaner::maximumRedirectDepth) return;
            target_ = std::move(redirect->target);
            link = target_;
        }
        while (const CompiledProvider* provider = match_.nextPathRewrite())
            sink.rewrite(number(provider), match_.text());
        // Any name: the first parameter question is what asks the providers' exceptions.
        if (hasQuery(match_.text())) (void)match_.strippingRule("id");
    }

private:
    const RuleMatcher& matcher_;
    LinkMatch match_;
    std::string target_;
};

// The same questions answered by RE2.
class Re2Work {
public:
    explicit Re2Work(const Re2LinkRules& rules) : rules_(rules) {}

    template <typename Sink>
    void run(std::string_view link, Sink& sink) {
        for (int depth = 0;; ++depth) {
            rules_.match(link, scan_);
            for (const std::uint32_t provider : scan_.providers)
                sink.provider(provider);
            auto redirect = this->redirect();
            if (!redirect) break;
            sink.target(redirect->first, redirect->second);
            if (depth == URLCleaner::maximumRedirectDepth) return;
            target_ = std::move(redirect->second);
            link = target_;
        }
        for (const std::uint32_t provider : scan_.providers) {
            if (!rules_.hasPathRules(provider)) continue;
            auto cut = rules_.cutPathRules(scan_, provider);
            if (!cut || rules_.isException(scan_, provider)) continue;
            rewritten_ = std::move(*cut);
            rules_.rescan(rewritten_, scan_);
            sink.rewrite(provider, rewritten_);
        }
        if (!hasQuery(scan_.text)) return;
        for (const std::uint32_t provider : scan_.providers) {
            if (rules_.hasParameterRules(provider)) (void)rules_.isException(scan_, provider);
        }
    }

private:
    // The first provider that has a target for the link and does not except it.
    std::optional<std::pair<std::uint32_t, std::string>> redirect() {
        for (const std::uint32_t provider : scan_.providers) {
            if (!rules_.hasRedirections(provider)) continue;
            auto target = rules_.redirectTarget(scan_, provider);
            if (target && !rules_.isException(scan_, provider)) return std::pair(provider, std::move(*target));
        }
        return std::nullopt;
    }

    const Re2LinkRules& rules_;
    Re2LinkRules::Scan scan_;
    std::string target_;
    std::string rewritten_;
};

}  // namespace tessaril::bench
