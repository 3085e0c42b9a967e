// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <re2/re2.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/cleaning/RulesEngine.h"
#include "core/foundation/RulePrefilter.h"

namespace tessaril::bench {

// The expression runs the engine makes for links once its literal filters have let them through,
// recorded so that they can be replayed on the engine's own automata or on RE2: what keeping the
// fragment index and swapping only the automata for RE2 would change. Which runs the engine makes is
// worked out from the rules' prefilters, which hold the same literals as its fragment index, and
// from the engine's own answers (its matching providers), in the engine's order: URL patterns once
// per distinct text, a provider's exceptions up to the first that matches, its redirections up to
// the first that gives a target, its path rules.
class EngineCalls {
public:
    enum Kind : std::uint8_t { urlSearch, exceptionSearch, redirection, pathRule };

    EngineCalls(const RulesEngine& engine, const std::vector<std::string>& links);

    // Replays the runs of the kinds in `kinds` (a bit per Kind) on the engine's automata or on RE2;
    // returns a sum of the answers.
    [[nodiscard]] std::size_t replayOurs(unsigned kinds) const;
    [[nodiscard]] std::size_t replayRe2(unsigned kinds) const;
    // Whether both give the same answer to every run; the first difference goes to `difference`.
    [[nodiscard]] bool agree(std::string& difference) const;
    [[nodiscard]] std::size_t count(Kind kind) const;

private:
    struct Pattern {
        const Regex* ours = nullptr;
        std::unique_ptr<RE2> theirs;
    };
    struct Call {
        Kind kind;
        std::uint32_t link;
        std::uint32_t pattern;
    };
    [[nodiscard]] std::uint32_t patternFor(const Regex& regex);
    void record(std::uint32_t number, const std::vector<std::pair<std::uint32_t, RulePrefilter>>& urlPatterns,
                std::vector<const CompiledProvider*>& providers);
    // One run: the answer as a number (matched or not, the captured or remaining length), so that
    // the two sides can be compared and the work kept.
    [[nodiscard]] std::size_t runOurs(const Call& call) const;
    [[nodiscard]] std::size_t runRe2(const Call& call) const;

    const RulesEngine& engine_;
    const std::vector<std::string>& links_;
    std::vector<Pattern> patterns_;
    std::unordered_map<const Regex*, std::uint32_t> numbers_;
    std::vector<Call> calls_;
};

}  // namespace tessaril::bench
