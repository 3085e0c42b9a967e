// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tessaril {

struct CompiledProvider;

// Providers picked by the rules engine for one link, in load order, with a bit per provider so that
// a list of rules can be checked against the set in one pass. Filled by
// RulesEngine::parameterProviders and valid until its next load; reusing one set from link to link
// keeps its buffers.
class ProviderSet {
public:
    [[nodiscard]] std::span<const CompiledProvider* const> providers() const { return providers_; }
    [[nodiscard]] bool empty() const { return providers_.empty(); }

private:
    friend class RulesEngine;

    [[nodiscard]] bool contains(std::uint32_t number) const {
        return number / 64 < members_.size() && ((members_[number / 64] >> (number % 64)) & 1U) != 0;
    }

    std::vector<const CompiledProvider*> providers_;
    std::vector<std::uint64_t> members_;
};

}  // namespace tessaril
