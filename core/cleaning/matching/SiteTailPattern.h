// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// The filter list's URL patterns of the form
//     ^https?:\/\/(?:[a-z0-9-]+\.)*?TAIL
// (case-insensitive) with TAIL literal text, `.` for any character and groups of literal
// alternatives, optionally followed by "(?::\d+)?(?:[\/?#]|$)" (any port, then the end of the host).
// Their fragments are often too short for the fragment index (`x.com` leaves "x" and "com"), so their
// expression ran on almost every link. Walking the link's host labels and comparing the tail at each
// label start answers them directly.
class SiteTailPattern {
public:
    // The pattern read, or nothing when it is not of that form.
    [[nodiscard]] static std::optional<SiteTailPattern> read(std::string_view pattern);

    // Where in one link a tail may begin: after "http://" or "https://" and after each "label." that
    // follows. Found once per link, for all patterns asked about it.
    class Starts {
    public:
        // Forgets the link; the next match() finds the places in its text.
        void reset() { found_ = false; }

    private:
        friend class SiteTailPattern;
        void find(std::string_view text);
        bool found_ = false;
        // A character that is not printable ASCII stopped the walk: a place after it is possible.
        bool unknown_ = false;
        std::vector<std::uint32_t> at_;
    };

    enum class Answer : std::uint8_t { unknown, no, yes };
    // Whether the pattern occurs in `text`, with `starts` reset when the text was last changed.
    // Unknown when a character that decides it is not printable ASCII (case folding then reaches
    // beyond ASCII, and a line end may stand before "$"): the expression must answer.
    [[nodiscard]] Answer match(std::string_view text, Starts& starts) const;

private:
    // Lower case; kAnyCharacter for `.`.
    static constexpr char kAnyCharacter = '\0';
    // A run of literal text has one alternative.
    using Segment = std::vector<std::string>;

    [[nodiscard]] Answer matchAt(std::string_view text, std::size_t at, std::size_t segment) const;

    std::vector<Segment> segments_;
    // The bytes a match may begin with (every byte that is not printable ASCII, to be looked at).
    std::bitset<256> firstBytes_;
    bool endsHost_ = false;
};

}  // namespace tessaril
