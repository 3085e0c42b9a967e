// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

// A named list of sites in a rules file ("siteLists"), such as the well-known projects whose own
// installers people are asked to pipe into a shell. Written once in the file and checked after a
// rule's expression matched, it keeps every rule that needs it short: spelt out as negative
// look-aheads in each expression, the list tripled the cost of a risky one-liner.
class SiteList {
public:
    // A host, which also covers its subdomains, optionally followed by leading path segments that
    // an address on that host must start with ("github.com/Homebrew"). Lower-cased.
    struct Entry {
        std::string host;
        std::string path;
        bool operator==(const Entry&) const = default;
    };

    SiteList() = default;
    // Nothing unless every entry reads as an Entry: a host of at least two labels (or an IPv4
    // address), then "/"-separated segments of letters, digits and "._~-".
    [[nodiscard]] static std::optional<SiteList> fromEntries(const std::vector<std::string>& entries);
    [[nodiscard]] static std::optional<Entry> parseEntry(std::string_view entry);

    [[nodiscard]] const std::vector<Entry>& entries() const { return entries_; }
    // Whether an address on `host` (any case) whose path (from its first "/", or empty) is `path`
    // belongs to a listed site.
    [[nodiscard]] bool covers(std::string_view host, std::string_view path) const;
    // Whether text[begin, end) names an address outside the list: a URL ("http", "https" or "ftp",
    // user information skipped), or a bare host followed by ":" or "/" that starts after white space,
    // a quote or "(" (the character before `begin` counts). Nothing that reads as an address names
    // no site at all.
    [[nodiscard]] bool namesUnlistedSite(std::string_view text, std::size_t begin, std::size_t end) const;

private:
    std::vector<Entry> entries_;
};

}  // namespace tessaril
