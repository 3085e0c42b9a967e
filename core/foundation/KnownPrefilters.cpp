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

bool KnownPrefilters::read(std::string_view encoded, std::vector<std::string_view>& fragments,
                           std::vector<std::uint32_t>& requirementEnds) {
    fragments.clear();
    requirementEnds.clear();
    if (encoded.empty()) return false;
    std::size_t at = 1;
    const auto byte = [&] { return static_cast<std::size_t>(static_cast<unsigned char>(encoded[at++])); };
    while (at < encoded.size()) {
        for (std::size_t count = byte(); count > 0; --count) {
            if (at >= encoded.size()) return false;
            const std::size_t length = byte();
            if (length > encoded.size() - at) return false;
            fragments.push_back(encoded.substr(at, length));
            at += length;
        }
        requirementEnds.push_back(static_cast<std::uint32_t>(fragments.size()));
    }
    return true;
}

RulePrefilter KnownPrefilters::decode(std::string_view encoded) {
    std::vector<std::string_view> fragments;
    std::vector<std::uint32_t> ends;
    if (!read(encoded, fragments, ends)) return {};
    std::vector<std::vector<std::string>> requirements;
    requirements.reserve(ends.size());
    std::uint32_t begin = 0;
    for (const std::uint32_t end : ends) {
        requirements.emplace_back(fragments.begin() + begin, fragments.begin() + end);
        begin = end;
    }
    return RulePrefilter::fromRequirements(std::move(requirements), encoded.front() == 'i');
}

std::optional<std::string_view> KnownPrefilters::encoded(std::string_view pattern) const {
    const auto found =
        std::lower_bound(entries_.begin(), entries_.end(), pattern,
                         [](const KnownPrefilter& entry, std::string_view key) { return entry.pattern < key; });
    if (found != entries_.end() && found->pattern == pattern) return found->encoded;
    return std::nullopt;
}

RulePrefilter KnownPrefilters::caseInsensitive(std::string_view pattern) const {
    if (const auto known = encoded(pattern)) return decode(*known);
    RulePrefilter filter = RulePrefilter::fromPattern(pattern, true);
    if (recorded_ != nullptr) recorded_->emplace_back(std::string(pattern), filter);
    return filter;
}

}  // namespace tessaril
