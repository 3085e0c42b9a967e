// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/ShortTextHash.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessaril {

// URL patterns that name one site, answered by looking the link's host up instead of by the
// fragment index and an expression each.
//
// The filter list brings hundreds of providers whose pattern is
//     ^https?:\/\/(?:[^.\/?#@:]+\.)*HOST(?::\d+)?(?:[\/?#]|$)
// with HOST an escaped host name: "this site or any subdomain, on any port", or with HOST an escaped
// "name." and `[^\/?#@:]*`: "name.anything" or a subdomain of it. Looking the link's host
// and its parent domains up in a map finds them all at once, where the fragment index would scan for
// every host name and run an expression for each one found. For printable ASCII links the lookup is
// the exact answer. The same prefix followed by a path (`\/goods\/`, `\/\?.*&t=`) is keyed by host
// too, but only as a necessary condition: its expression still decides.
//
// Links with other characters before the path (a non-ASCII host, a line break) are looked up in
// ICU's full case folding, where a case-insensitive match of an ASCII host must show as that host;
// every provider found that way is a candidate whose expression decides.
class HostIndex {
public:
    struct Shape {
        // Lower case, without escapes.
        std::string host;
        // Whether the lookup alone answers for printable ASCII links (nothing follows the port).
        bool exact = false;
        // "name\.[^\/?#@:]*": `host` ("name.") begins a label of the link's host, which may go on with anything.
        bool anyEnding = false;
    };
    // The shape of a case-insensitive URL pattern, or nothing when it is not one of the two above.
    [[nodiscard]] static std::optional<Shape> read(std::string_view pattern);

    // Registers provider `number` (numbers added in ascending order).
    void add(const Shape& shape, std::uint32_t number);
    [[nodiscard]] bool empty() const { return entries_.empty() && anyEndings_.empty(); }

    struct Hit {
        std::uint32_t provider;
        // True: the pattern matches. False: it may, and its expression decides.
        bool certain;
    };
    // The providers whose pattern the link may match, in ascending order (overwrites `hits`).
    // `folded` is a buffer for the folding of unusual links.
    void find(std::string_view link, std::vector<Hit>& hits, std::string& folded) const;

private:
    struct Entry {
        std::uint32_t provider;
        bool exact;
    };
    // Every host name and parent domain of `host` that the pattern's "(subdomain.)*" allows.
    void lookUp(std::string_view host, bool certainAllowed, std::vector<Hit>& hits) const;

    // Looked up by views of the link, without making a string of each; each of a link's host name
    // and parent domains is hashed for the filter.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return shortTextHash(text); }
    };
    using Map = std::unordered_map<std::string, std::vector<Entry>, Hash, std::equal_to<>>;
    // Host names, and the beginnings of host names that may end in anything.
    Map entries_;
    Map anyEndings_;
    // One bit per hash of every key of the two maps (a one-hash Bloom filter).
    static constexpr std::size_t kFilterBits = std::size_t{1} << 14;
    [[nodiscard]] bool mayHold(std::string_view key) const {
        const std::size_t bit = Hash{}(key) % kFilterBits;
        return ((filter_[bit / 64] >> (bit % 64)) & 1U) != 0;
    }
    std::array<std::uint64_t, kFilterBits / 64> filter_{};
    // The most labels a beginning in anyEndings_ has.
    std::size_t anyEndingLabels_ = 0;
};

}  // namespace tessaril
