// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/matching/HostIndex.h"

#include "core/foundation/RulePrefilter.h"

#include <algorithm>
#include <array>

namespace tessaril {

namespace {

constexpr std::string_view kPrefix = R"(^https?:\/\/(?:[^.\/?#@:]+\.)*)";
constexpr std::string_view kPort = R"((?::\d+)?)";
constexpr std::string_view kEnd = R"((?:[\/?#]|$))";
constexpr std::string_view kAnyEnding = R"([^\/?#@:]*)";

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Printable ASCII that neither ends an authority nor needs a second look ("@", ":").
constexpr std::array<bool, 256> kPlainAuthorityBytes = [] {
    std::array<bool, 256> table{};
    for (int c = 0x20; c <= 0x7E; ++c)
        table[static_cast<std::size_t>(c)] = c != '/' && c != '?' && c != '#' && c != '@' && c != ':';
    return table;
}();

bool isHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// The length of "http://" or "https://" at the start of `text`, in any case, or 0.
std::size_t schemeLength(std::string_view text) {
    constexpr std::string_view http = "http";
    if (text.size() < 7) return 0;
    for (std::size_t i = 0; i < http.size(); ++i) {
        if (lower(text[i]) != http[i]) return 0;
    }
    std::size_t at = http.size();
    if (lower(text[at]) == 's') ++at;
    return text.substr(at, 3) == "://" ? at + 3 : 0;
}

// What ICU takes for the end of a line, which "$" may stand before at the end of the text.
std::string_view withoutLineEnd(std::string_view text) {
    for (const std::string_view end : {"\r\n", "\n", "\r", "\v", "\f", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
        if (text.ends_with(end)) return text.substr(0, text.size() - end.size());
    }
    return text;
}

}  // namespace

std::optional<HostIndex::Shape> HostIndex::read(std::string_view pattern) {
    if (!pattern.starts_with(kPrefix)) return std::nullopt;
    Shape shape;
    std::size_t at = kPrefix.size();
    while (at < pattern.size()) {
        if (isHostCharacter(pattern[at])) {
            shape.host += lower(pattern[at++]);
        } else if (pattern[at] == '\\' && at + 1 < pattern.size() &&
                   (pattern[at + 1] == '.' || pattern[at + 1] == '-')) {
            shape.host += pattern[at + 1];
            at += 2;
        } else {
            break;
        }
    }
    std::string_view rest = pattern.substr(at);
    // "name." followed by any top-level domain and more: the host then continues with anything that
    // is not a port or an end.
    if (rest.starts_with(kAnyEnding)) {
        if (!shape.host.ends_with('.')) return std::nullopt;
        shape.anyEnding = true;
        rest.remove_prefix(kAnyEnding.size());
    }
    const std::string_view host = std::string_view(shape.host).substr(0, shape.host.size() - (shape.anyEnding ? 1 : 0));
    if (host.empty() || host.front() == '.' || host.back() == '.' || host.find("..") != std::string_view::npos)
        return std::nullopt;
    if (!rest.starts_with(kPort)) return std::nullopt;
    rest.remove_prefix(kPort.size());
    if (rest == kEnd) {
        shape.exact = true;
        return shape;
    }
    // A path must follow the port directly, and no alternation may reach back over the prefix.
    if ((rest.starts_with("\\/") || rest.starts_with("\\?")) && rest.find('|') == std::string_view::npos) return shape;
    return std::nullopt;
}

void HostIndex::add(const Shape& shape, std::uint32_t number) {
    (shape.anyEnding ? anyEndings_ : entries_)[shape.host].push_back(Entry{number, shape.exact});
    const std::size_t bit = Hash{}(shape.host) % kFilterBits;
    filter_[bit / 64] |= std::uint64_t{1} << (bit % 64);
    if (shape.anyEnding)
        anyEndingLabels_ =
            std::max<std::size_t>(anyEndingLabels_, std::count(shape.host.begin(), shape.host.end(), '.'));
}

void HostIndex::lookUp(std::string_view host, bool certainAllowed, std::vector<Hit>& hits) const {
    // Every subdomain label before the pattern's host must be non-empty: once an empty one is
    // passed, no shorter suffix can be the pattern's host.
    const auto take = [&](const Map& map, std::string_view key) {
        // Nearly every key is absent: a bit of the filter turns it away before the map is searched.
        if (!mayHold(key)) return;
        if (const auto found = map.find(key); found != map.end()) {
            for (const Entry& entry : found->second)
                hits.push_back(Hit{entry.provider, certainAllowed && entry.exact});
        }
    };
    for (std::size_t start = 0;;) {
        take(entries_, host.substr(start));
        std::size_t end = start;
        for (std::size_t labels = 0; labels < anyEndingLabels_; ++labels) {
            end = host.find('.', end);
            if (end == std::string_view::npos) break;
            take(anyEndings_, host.substr(start, ++end - start));
        }
        const std::size_t dot = host.find('.', start);
        if (dot == std::string_view::npos || dot == start) break;
        start = dot + 1;
    }
    if (hits.size() > 1)
        std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) { return a.provider < b.provider; });
}

void HostIndex::find(std::string_view link, std::vector<Hit>& hits, std::string& folded) const {
    hits.clear();
    if (empty()) return;
    if (const std::size_t start = schemeLength(link); start != 0) {
        // The authority, in one pass: where it ends, whether it is printable ASCII, its first ":".
        std::size_t end = start;
        std::size_t colon = std::string_view::npos;
        bool printable = true;
        bool hasAt = false;
        for (; end < link.size(); ++end) {
            const char c = link[end];
            // Nearly every byte of a host: one look-up instead of seven comparisons.
            if (kPlainAuthorityBytes[static_cast<unsigned char>(c)]) continue;
            if (c == '/' || c == '?' || c == '#') break;
            if (c < 0x20 || c > 0x7E) {
                printable = false;
            } else if (c == '@') {
                hasAt = true;
            } else if (c == ':' && colon == std::string_view::npos) {
                colon = end;
            }
        }
        if (printable) {
            // No subdomain label, host or port holds an "@", and a port is digits.
            if (hasAt) return;
            std::size_t hostEnd = end;
            if (colon != std::string_view::npos) {
                const std::string_view port = link.substr(colon + 1, end - colon - 1);
                if (port.empty() || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
                    return;
                hostEnd = colon;
            }
            folded.resize(hostEnd - start);
            std::transform(link.begin() + static_cast<std::ptrdiff_t>(start),
                           link.begin() + static_cast<std::ptrdiff_t>(hostEnd), folded.begin(), lower);
            lookUp(folded, true, hits);
            return;
        }
    } else if (std::all_of(link.begin(), link.end(),
                           [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; })) {
        return;  // an ASCII text that does not start with the scheme
    }
    // Folded, the subdomains stay labels of their own, the host reads as the pattern's, and the port
    // and a line end at the very end of the text come after it.
    folded.clear();
    RulePrefilter::foldFullyInto(link, folded);
    const std::size_t start = schemeLength(folded);
    if (start == 0) return;
    const std::size_t end = std::min(folded.find_first_of("/?#", start), folded.size());
    std::string_view host = std::string_view(folded).substr(start, end - start);
    host = withoutLineEnd(host.substr(0, host.find(':')));
    lookUp(host, false, hits);
}

}  // namespace tessaril
