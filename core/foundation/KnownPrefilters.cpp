// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/KnownPrefilters.h"

#include <algorithm>
#include <cstddef>

namespace tessaril {

// The form: 'i' or 's' (case-insensitive or not), then per requirement its number of fragments as
// one byte, and per fragment its length as one byte and its bytes.
std::optional<std::string> KnownPrefilters::encode(const RulePrefilter& filter) {
    constexpr std::size_t kMaximumByte = 255;
    std::string out(1, filter.caseInsensitive() ? 'i' : 's');
    for (const auto& requirement : filter.requirements()) {
        if (requirement.size() > kMaximumByte) return std::nullopt;
        out += static_cast<char>(requirement.size());
        for (const auto& fragment : requirement) {
            if (fragment.size() > kMaximumByte) return std::nullopt;
            out += static_cast<char>(fragment.size());
            out += fragment;
        }
    }
    return out;
}

RulePrefilter KnownPrefilters::decode(std::string_view encoded) {
    if (encoded.empty()) return {};
    std::vector<std::vector<std::string>> requirements;
    std::size_t at = 1;
    const auto byte = [&] { return static_cast<std::size_t>(static_cast<unsigned char>(encoded[at++])); };
    while (at < encoded.size()) {
        auto& fragments = requirements.emplace_back(byte());
        for (auto& fragment : fragments) {
            if (at >= encoded.size()) return {};
            const std::size_t length = byte();
            if (length > encoded.size() - at) return {};
            fragment.assign(encoded.substr(at, length));
            at += length;
        }
    }
    return RulePrefilter::fromRequirements(std::move(requirements), encoded.front() == 'i');
}

RulePrefilter KnownPrefilters::caseInsensitive(std::string_view pattern) const {
    const auto found =
        std::lower_bound(entries_.begin(), entries_.end(), pattern,
                         [](const KnownPrefilter& entry, std::string_view key) { return entry.pattern < key; });
    if (found != entries_.end() && found->pattern == pattern) return decode(found->encoded);
    RulePrefilter filter = RulePrefilter::fromPattern(pattern, true);
    if (recorded_ != nullptr) recorded_->emplace_back(std::string(pattern), filter);
    return filter;
}

}  // namespace tessaril
