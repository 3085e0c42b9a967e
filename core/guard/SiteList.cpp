// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/guard/SiteList.h"

#include <algorithm>
#include <array>

namespace tessaril {

namespace {

constexpr std::size_t kMaximumHostLength = 253;
constexpr std::size_t kMaximumLabelLength = 63;
constexpr std::size_t kMaximumUserLength = 64;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isHostChar(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_';
}
char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
bool equalFolded(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool isIPv4(std::string_view host) {
    int parts = 0;
    std::size_t digits = 0;
    for (char c : host) {
        if (isDigit(c)) {
            if (++digits > 3) return false;
        } else if (c == '.' && digits > 0) {
            ++parts;
            digits = 0;
        } else {
            return false;
        }
    }
    return parts == 3 && digits > 0;
}

// Labels of letters, digits, "_" and "-" that start with a letter or digit; the last one, the
// top-level domain, of two to twenty-four characters starting with a letter.
bool isHostName(std::string_view host) {
    if (host.empty() || host.size() > kMaximumHostLength) return false;
    std::size_t labels = 0;
    std::string_view last;
    for (std::size_t start = 0; start <= host.size();) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        const std::string_view label = host.substr(start, dot - start);
        if (label.empty() || label.size() > kMaximumLabelLength || !(isAlpha(label[0]) || isDigit(label[0])) ||
            !std::all_of(label.begin(), label.end(), [](char c) { return isHostChar(c) && c != '.'; })) {
            return false;
        }
        ++labels;
        last = label;
        start = dot + 1;
    }
    return labels >= 2 && isAlpha(last[0]) && last.size() >= 2 && last.size() <= 24 && last.find('_') == last.npos;
}

bool isHost(std::string_view host) {
    return isIPv4(host) || isHostName(host);
}

// Where an address's host ends and a plain word would go on.
bool endsHost(char c) {
    return c == ':' || c == '/' || c == '"' || c == '\'' || c == ')' || c == '?' || c == '#' || c == ' ' || c == '\t' ||
           c == '\r' || c == '\n' || c == '\f' || c == '\v';
}
bool endsPath(char c) {
    return c == '"' || c == '\'' || c == ')' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' ||
           c == '\v';
}

std::size_t hostRunLength(std::string_view text, std::size_t from) {
    std::size_t i = from;
    while (i < text.size() && isHostChar(text[i]) && i - from <= kMaximumHostLength)
        ++i;
    return i - from;
}

// The scheme of a URL starting at `at`, with its "://", or 0.
std::size_t schemeLength(std::string_view text, std::size_t at) {
    static constexpr std::array<std::string_view, 3> kSchemes = {"https://", "http://", "ftp://"};
    for (std::string_view scheme : kSchemes) {
        if (text.size() - at >= scheme.size() && equalFolded(text.substr(at, scheme.size()), scheme))
            return scheme.size();
    }
    return 0;
}

}  // namespace

std::optional<SiteList::Entry> SiteList::parseEntry(std::string_view entry) {
    const std::size_t slash = entry.find('/');
    const std::string_view host = entry.substr(0, slash);
    if (!isHost(host)) return std::nullopt;
    Entry parsed;
    std::transform(host.begin(), host.end(), std::back_inserter(parsed.host), lower);
    if (slash == entry.npos) return parsed;
    const std::string_view path = entry.substr(slash + 1);
    if (path.empty() || path.size() > 200 || path.front() == '/' || path.back() == '/' ||
        path.find("//") != path.npos || !std::all_of(path.begin(), path.end(), [](char c) {
            return isAlpha(c) || isDigit(c) || c == '.' || c == '_' || c == '~' || c == '-' || c == '/';
        })) {
        return std::nullopt;
    }
    std::transform(path.begin(), path.end(), std::back_inserter(parsed.path), lower);
    return parsed;
}

std::optional<SiteList> SiteList::fromEntries(const std::vector<std::string>& entries) {
    SiteList list;
    list.entries_.reserve(entries.size());
    for (const auto& text : entries) {
        auto entry = parseEntry(text);
        if (!entry) return std::nullopt;
        list.entries_.push_back(std::move(*entry));
    }
    return list;
}

bool SiteList::covers(std::string_view host, std::string_view path) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        const bool onHost = equalFolded(host, entry.host) ||
                            (host.size() > entry.host.size() && host[host.size() - entry.host.size() - 1] == '.' &&
                             equalFolded(host.substr(host.size() - entry.host.size()), entry.host));
        if (!onHost) return false;
        if (entry.path.empty()) return true;
        // "/" + the segments, ending where a segment, the query or the fragment does.
        if (path.size() < entry.path.size() + 1 || path[0] != '/' ||
            !equalFolded(path.substr(1, entry.path.size()), entry.path)) {
            return false;
        }
        const std::size_t after = entry.path.size() + 1;
        return after == path.size() || path[after] == '/' || path[after] == '?' || path[after] == '#';
    });
}

bool SiteList::namesUnlistedSite(std::string_view text, std::size_t begin, std::size_t end) const {
    end = std::min(end, text.size());
    for (std::size_t i = begin; i < end; ++i) {
        std::size_t hostBegin = i;
        bool bare = false;
        if (const std::size_t scheme = schemeLength(text, i); scheme > 0) {
            hostBegin = i + scheme;
            const std::size_t user = hostRunLength(text, hostBegin);
            if (user > 0 && user <= kMaximumUserLength && hostBegin + user < text.size() &&
                text[hostBegin + user] == '@') {
                hostBegin += user + 1;
            }
        } else if (i > 0 && isHostChar(text[i]) && !isHostChar(text[i - 1]) &&
                   (endsPath(text[i - 1]) || text[i - 1] == '(')) {
            bare = true;
        } else {
            continue;
        }
        const std::size_t hostLength = hostRunLength(text, hostBegin);
        const std::size_t hostEnd = hostBegin + hostLength;
        const bool terminated = hostEnd == text.size() ? !bare : endsHost(text[hostEnd]);
        const bool bareEnd = !bare || (hostEnd < text.size() && (text[hostEnd] == ':' || text[hostEnd] == '/'));
        const std::string_view host = text.substr(hostBegin, hostLength);
        if (hostLength == 0 || !terminated || !bareEnd || !isHost(host)) {
            i = std::max(i, hostEnd == hostBegin ? i : hostEnd - 1);
            continue;
        }
        std::size_t pathBegin = hostEnd;
        if (pathBegin < text.size() && text[pathBegin] == ':') {
            while (pathBegin + 1 < text.size() && isDigit(text[pathBegin + 1]))
                ++pathBegin;
            ++pathBegin;
        }
        std::size_t pathEnd = pathBegin;
        while (pathEnd < text.size() && !endsPath(text[pathEnd]))
            ++pathEnd;
        if (!covers(host, text.substr(pathBegin, pathEnd - pathBegin))) return true;
        // A listed address may carry another in its path or query, which is looked at too.
        i = std::max(i, hostEnd - 1);
    }
    return false;
}

}  // namespace tessaril
