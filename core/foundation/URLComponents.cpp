// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/URLComponents.h"

#include "core/foundation/Text.h"

#include <array>
#include <cstring>
#include <limits>

namespace tessaril {
namespace {

// Per-byte classes. A part accepts a byte when the byte has that part's bit; "%" and bytes from 0x80
// carry every text bit and are checked separately (escape shape, UTF-8).
enum CharClass : std::uint16_t {
    kSchemeChar = 1,  // ALPHA DIGIT + - .
    kUserinfoChar = 2,
    kRegNameChar = 4,
    kPathChar = 8,        // pchar and "/": what we write into a path
    kQueryChar = 16,      // pchar, "/" and "?": what we write into a query or fragment
    kQueryItemChar = 32,  // the query set without "&", "=" and "+", for an item's decoded text
    kHexChar = 64,
    kZoneChar = 128,  // unreserved: IPv6 zone identifiers
    // What we accept when reading. Beyond the strict sets, "[" and "]" may appear in a path, query or
    // fragment, and "#" inside a fragment: array-style parameters ("a[0]=1") are everywhere in pasted
    // links, and neither character can be mistaken for a delimiter there, so reading them costs no
    // ambiguity, while refusing them would leave such links uncleaned.
    kPathRead = 256,
    kQueryRead = 512,
    kFragmentRead = 1024,
};

constexpr std::array<std::uint16_t, 256> makeClasses() {
    std::array<std::uint16_t, 256> table{};
    auto add = [&table](std::string_view chars, std::uint16_t bits) {
        for (char c : chars)
            table[static_cast<unsigned char>(c)] |= bits;
    };
    constexpr std::string_view alpha = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    constexpr std::string_view digit = "0123456789";
    constexpr std::string_view subDelims = "!$&'()*+,;=";
    constexpr std::uint16_t text =
        kUserinfoChar | kRegNameChar | kPathChar | kQueryChar | kQueryItemChar | kPathRead | kQueryRead | kFragmentRead;
    constexpr std::uint16_t query = kQueryChar | kQueryItemChar | kQueryRead | kFragmentRead;
    add(alpha, text | kSchemeChar | kZoneChar);
    add(digit, text | kSchemeChar | kZoneChar | kHexChar);
    add("abcdefABCDEF", kHexChar);
    add("-.", text | kSchemeChar | kZoneChar);
    add("+", kSchemeChar);
    add("_~", text | kZoneChar);
    add(subDelims, text);
    add(":", kUserinfoChar | kPathChar | kPathRead | query);
    add("@", kPathChar | kPathRead | query);
    add("/", kPathChar | kPathRead | query);
    add("?", query);
    add("[]", kPathRead | kQueryRead | kFragmentRead);
    add("#", kFragmentRead);
    add("%", text);
    for (std::size_t b = 0x80; b < 0x100; ++b)
        table[b] |= text;
    // An item's name or value may hold neither separator; "+" is escaped too because many servers
    // read a raw "+" as a space.
    table['&'] &= static_cast<std::uint16_t>(~kQueryItemChar);
    table['='] &= static_cast<std::uint16_t>(~kQueryItemChar);
    table['+'] &= static_cast<std::uint16_t>(~kQueryItemChar);
    return table;
}

// The low half holds the classes above; the high half repeats them for "plain" bytes only (ASCII
// other than "%"), which the scanner can skip without a second look.
constexpr std::array<std::uint32_t, 256> withPlainBits(const std::array<std::uint16_t, 256>& classes) {
    std::array<std::uint32_t, 256> table{};
    for (std::size_t b = 0; b < 256; ++b) {
        table[b] = classes[b];
        if (b < 0x80 && b != '%') table[b] |= static_cast<std::uint32_t>(classes[b]) << 16;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kClasses = withPlainBits(makeClasses());

inline bool hasClass(char c, std::uint16_t bits) {
    return (kClasses[static_cast<unsigned char>(c)] & bits) != 0;
}
inline bool isPlain(char c, std::uint16_t bits) {
    return (kClasses[static_cast<unsigned char>(c)] & (static_cast<std::uint32_t>(bits) << 16)) != 0;
}

inline bool isHex(char c) {
    return hasClass(c, kHexChar);
}
inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
inline bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Length of the well-formed UTF-8 sequence at s[i] (a byte >= 0x80), or 0. C1 controls count as
// malformed here: they are control characters, which no link may hold.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    const std::size_t left = s.size() - i;
    auto cont = [&](std::size_t k) { return k < left && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (!cont(1)) return 0;
        if (b0 == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) return 0;  // U+0080...U+009F
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        const auto b1 = static_cast<unsigned char>(s[i + 1]);
        if (b0 == 0xE0 && b1 < 0xA0) return 0;  // overlong
        if (b0 == 0xED && b1 > 0x9F) return 0;  // surrogates
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        const auto b1 = static_cast<unsigned char>(s[i + 1]);
        if (b0 == 0xF0 && b1 < 0x90) return 0;  // overlong
        if (b0 == 0xF4 && b1 > 0x8F) return 0;  // beyond U+10FFFF
        return 4;
    }
    return 0;
}

// Scans s[i...] while the bytes belong to `bits`, checking escapes and UTF-8 on the way. Returns the
// index of the first byte outside the set (s.size() at the end), or npos on a malformed escape or
// invalid UTF-8.
std::size_t scan(std::string_view s, std::size_t i, std::uint16_t bits) {
    const std::size_t n = s.size();
    const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
    const std::uint32_t plain = static_cast<std::uint32_t>(bits) << 16;
    // Not std::has_single_bit: built for the baseline processor, that is a call to the library's
    // bit count at each of a link's scans.
    const bool oneClass = bits != 0 && (bits & (bits - 1U)) == 0;
    while (true) {
        // Runs of plain bytes are long (a query is mostly letters and digits): eight at a time,
        // one test for all of them, which holds when `bits` is a single class.
        while (oneClass && i + 8 <= n &&
               (kClasses[bytes[i]] & kClasses[bytes[i + 1]] & kClasses[bytes[i + 2]] & kClasses[bytes[i + 3]] &
                kClasses[bytes[i + 4]] & kClasses[bytes[i + 5]] & kClasses[bytes[i + 6]] & kClasses[bytes[i + 7]] &
                plain) != 0)
            i += 8;
        while (i < n && isPlain(s[i], bits))
            ++i;
        if (i == n) return n;
        const char c = s[i];
        if (!hasClass(c, bits)) return i;
        if (c == '%') {
            if (i + 2 >= n || !isHex(s[i + 1]) || !isHex(s[i + 2])) return std::string_view::npos;
            i += 3;
            continue;
        }
        const std::size_t len = utf8SequenceLength(s, i);
        if (len == 0) return std::string_view::npos;
        i += len;
    }
}

// A decimal octet without leading zeros, 0...255, at s[i...]; advances i.
bool parseDecOctet(std::string_view s, std::size_t& i) {
    std::size_t start = i;
    int value = 0;
    while (i < s.size() && isDigit(s[i]) && i - start < 3)
        value = value * 10 + (s[i++] - '0');
    const std::size_t len = i - start;
    if (len == 0 || value > 255) return false;
    return len == 1 || s[start] != '0';
}

bool isIPv4Tail(std::string_view s) {
    std::size_t i = 0;
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0 && (i >= s.size() || s[i++] != '.')) return false;
        if (!parseDecOctet(s, i)) return false;
    }
    return i == s.size();
}

// The RFC 3986 IPv6address grammar: eight groups of 1-4 hex digits, or fewer with one "::" standing
// for at least one group, the last two groups optionally written as a dotted IPv4 address.
bool isIPv6Address(std::string_view s) {
    int groups = 0;
    bool compressed = false;
    std::size_t i = 0;
    if (s.substr(0, 2) == "::") {
        compressed = true;
        i = 2;
        if (i == s.size()) return true;
    } else if (!s.empty() && s[0] == ':') {
        return false;
    }
    while (i < s.size()) {
        std::size_t start = i;
        while (i < s.size() && isHex(s[i]) && i - start < 5)
            ++i;
        const std::size_t len = i - start;
        if (i < s.size() && s[i] == '.') {
            // A dotted tail takes two groups and ends the address.
            if (groups > 6 || !isIPv4Tail(s.substr(start))) return false;
            groups += 2;
            break;
        }
        if (len == 0 || len > 4) return false;
        ++groups;
        if (i == s.size()) break;
        if (s[i] != ':') return false;
        ++i;
        if (i < s.size() && s[i] == ':') {
            if (compressed) return false;
            compressed = true;
            ++i;
            if (i == s.size()) break;
        } else if (i == s.size()) {
            return false;  // a single trailing ":"
        }
    }
    return compressed ? groups <= 7 : groups == 8;
}

// The inside of "[...]": an IPv6 address with an optional "%25" zone, or an IPvFuture literal.
bool isIPLiteral(std::string_view s) {
    if (!s.empty() && (s[0] == 'v' || s[0] == 'V')) {
        std::size_t i = 1;
        while (i < s.size() && isHex(s[i]))
            ++i;
        if (i == 1 || i >= s.size() || s[i] != '.' || i + 1 == s.size()) return false;
        for (++i; i < s.size(); ++i) {
            // unreserved, sub-delims and ":": the userinfo set without escapes or non-ASCII.
            if (s[i] == '%' || static_cast<unsigned char>(s[i]) >= 0x80 || !hasClass(s[i], kUserinfoChar)) return false;
        }
        return true;
    }
    const std::size_t zone = s.find('%');
    if (zone == std::string_view::npos) return isIPv6Address(s);
    if (!isIPv6Address(s.substr(0, zone))) return false;
    const std::string_view id = s.substr(zone);
    if (id.size() <= 3 || id.substr(0, 3) != "%25") return false;
    for (std::size_t i = 3; i < id.size(); ++i) {
        if (id[i] == '%') {
            if (i + 2 >= id.size() || !isHex(id[i + 1]) || !isHex(id[i + 2])) return false;
            i += 2;
        } else if (!hasClass(id[i], kZoneChar) || static_cast<unsigned char>(id[i]) >= 0x80) {
            return false;
        }
    }
    return true;
}

std::optional<std::string> decodePart(std::optional<std::string_view> part) {
    if (!part) return std::nullopt;
    return text::percentDecode(*part);
}

// Appends `s`, escaping every byte outside `bits` (and "%"). Non-ASCII characters stay raw, as an
// internationalised link shows them; stray bytes of broken UTF-8 and C1 controls are escaped, so the
// result is always text the parser accepts.
void percentEncodeInto(std::string& out, std::string_view s, std::uint16_t bits) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < s.size();) {
        const char c = s[i];
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80) {
            if (const std::size_t len = utf8SequenceLength(s, i); len > 0) {
                out.append(s.substr(i, len));
                i += len;
                continue;
            }
        } else if (c != '%' && hasClass(c, bits)) {
            out.push_back(c);
            ++i;
            continue;
        }
        out.push_back('%');
        out.push_back(kHexDigits[b >> 4]);
        out.push_back(kHexDigits[b & 15]);
        ++i;
    }
}

std::string percentEncode(std::string_view s, std::uint16_t bits) {
    std::string out;
    out.reserve(s.size());
    percentEncodeInto(out, s, bits);
    return out;
}

// True when `s` consists of `bits` characters and well-formed escapes only.
bool isEncodedPart(std::string_view s, std::uint16_t bits) {
    return scan(s, 0, bits) == s.size();
}

URLQueryItemView splitItem(std::string_view item) {
    const std::size_t equals = item.find('=');
    if (equals == std::string_view::npos) return {item, std::nullopt};
    return {item.substr(0, equals), item.substr(equals + 1)};
}

// Calls f(item) for each "&"-separated item of a non-empty query.
template <class F>
void forEachItem(std::string_view query, F&& f) {
    if (query.empty()) return;
    std::size_t start = 0;
    while (true) {
        const std::size_t amp = query.find('&', start);
        f(splitItem(query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start)));
        if (amp == std::string_view::npos) return;
        start = amp + 1;
    }
}

bool isScheme(std::string_view s) {
    if (s.empty() || !isAlpha(s[0])) return false;
    for (char c : s) {
        if (!hasClass(c, kSchemeChar)) return false;
    }
    return true;
}

// Parts compared by the setters, in order of appearance.
enum Part { kSchemePart, kUserPart, kPasswordPart, kHostPart, kPortPart, kPathPart, kQueryPart, kFragmentPart };

}  // namespace

std::optional<URLComponents> URLComponents::parse(std::string_view text) {
    URLComponents result;
    if (!result.parseInto(text)) return std::nullopt;
    return result;
}

// One left-to-right pass: scheme, authority, path, query, fragment. Each part is scanned with its own
// character set; the byte a scan stops on must be the delimiter that may follow that part.
bool URLComponents::parseInto(std::string_view s) {
    constexpr std::size_t npos = std::string_view::npos;
    if (s.size() >= std::numeric_limits<std::uint32_t>::max()) return false;
    const std::size_t n = s.size();
    std::uint8_t flags = 0;
    std::size_t i = 0;

    // Scheme: ALPHA *(ALPHA / DIGIT / "+" / "-" / ".") ":". Anything else means a relative reference.
    std::size_t schemeEnd = 0;
    if (n > 0 && isAlpha(s[0])) {
        std::size_t k = 1;
        while (k < n && hasClass(s[k], kSchemeChar))
            ++k;
        if (k < n && s[k] == ':') {
            schemeEnd = k;
            flags |= kScheme;
            i = k + 1;
        }
    }

    std::size_t authorityStart = i, userEnd = i, hostStart = i, hostEnd = i;
    std::int32_t port = -1;
    if (i + 1 < n && s[i] == '/' && s[i + 1] == '/') {
        flags |= kAuthority;
        authorityStart = i + 2;
        std::size_t end = authorityStart;
        while (end < n && s[end] != '/' && s[end] != '?' && s[end] != '#')
            ++end;
        const std::string_view authority = s.substr(0, end);
        // Userinfo: everything before the "@"; it may not hold a second "@".
        const void* at = std::memchr(s.data() + authorityStart, '@', end - authorityStart);
        hostStart = authorityStart;
        if (at != nullptr) {
            const std::size_t atIndex = static_cast<const char*>(at) - s.data();
            if (scan(authority, authorityStart, kUserinfoChar) != atIndex) return false;
            flags |= kUserinfo;
            const void* colon = std::memchr(s.data() + authorityStart, ':', atIndex - authorityStart);
            userEnd = colon != nullptr ? static_cast<std::size_t>(static_cast<const char*>(colon) - s.data()) : atIndex;
            if (colon != nullptr) flags |= kPassword;
            hostStart = atIndex + 1;
        }
        // Host: an IP literal in brackets, or a registered name (IPv4 addresses are among those).
        if (hostStart < end && s[hostStart] == '[') {
            const std::size_t close = authority.find(']', hostStart);
            if (close == npos || !isIPLiteral(authority.substr(hostStart + 1, close - hostStart - 1))) return false;
            hostEnd = close + 1;
        } else {
            hostEnd = scan(authority, hostStart, kRegNameChar);
            if (hostEnd == npos) return false;
        }
        if (hostEnd < end) {
            if (s[hostEnd] != ':') return false;
            flags |= kPort;
            std::size_t k = hostEnd + 1;
            std::int64_t value = 0;
            for (; k < end; ++k) {
                if (!isDigit(s[k])) return false;
                value = value * 10 + (s[k] - '0');
                if (value > 65535) return false;
            }
            if (k > hostEnd + 1) port = static_cast<std::int32_t>(value);
        }
        i = end;
    }

    // Path: stops at "?" or "#". Without a scheme or authority, the first segment may not hold ":"
    // (it would read as a scheme).
    const std::size_t pathStart = i;
    const std::size_t pathEnd = scan(s, i, kPathRead);
    if (pathEnd == npos) return false;
    if (pathEnd < n && s[pathEnd] != '?' && s[pathEnd] != '#') return false;
    if ((flags & (kScheme | kAuthority)) == 0) {
        const std::string_view path = s.substr(pathStart, pathEnd - pathStart);
        const std::size_t colon = path.find(':');
        if (colon != npos && path.find('/') > colon) return false;
    }
    i = pathEnd;

    std::size_t queryEnd = i;
    if (i < n && s[i] == '?') {
        flags |= kQuery;
        queryEnd = scan(s, i + 1, kQueryRead);
        if (queryEnd == npos || (queryEnd < n && s[queryEnd] != '#')) return false;
        i = queryEnd;
    }
    if (i < n) {  // necessarily "#"
        flags |= kFragment;
        if (scan(s, i + 1, kFragmentRead) != n) return false;
    }

    text_.assign(s);
    schemeEnd_ = static_cast<std::uint32_t>(schemeEnd);
    authorityStart_ = static_cast<std::uint32_t>(authorityStart);
    userEnd_ = static_cast<std::uint32_t>(userEnd);
    hostStart_ = static_cast<std::uint32_t>(hostStart);
    hostEnd_ = static_cast<std::uint32_t>(hostEnd);
    pathStart_ = static_cast<std::uint32_t>(pathStart);
    pathEnd_ = static_cast<std::uint32_t>(pathEnd);
    queryEnd_ = static_cast<std::uint32_t>(queryEnd);
    port_ = port;
    flags_ = flags;
    return true;
}

std::optional<std::string_view> URLComponents::scheme() const {
    if (!has(kScheme)) return std::nullopt;
    return slice(0, schemeEnd_);
}

std::optional<std::string_view> URLComponents::percentEncodedUser() const {
    if (!has(kUserinfo)) return std::nullopt;
    return slice(authorityStart_, userEnd_);
}

std::optional<std::string_view> URLComponents::percentEncodedPassword() const {
    if (!has(kPassword)) return std::nullopt;
    return slice(userEnd_ + 1, hostStart_ - 1);
}

std::optional<std::string_view> URLComponents::percentEncodedHost() const {
    if (!has(kAuthority)) return std::nullopt;
    return slice(hostStart_, hostEnd_);
}

std::optional<std::string_view> URLComponents::portText() const {
    if (!has(kPort)) return std::nullopt;
    return slice(hostEnd_ + 1, pathStart_);
}

std::optional<int> URLComponents::port() const {
    if (port_ < 0) return std::nullopt;
    return port_;
}

std::string_view URLComponents::percentEncodedPath() const {
    return slice(pathStart_, pathEnd_);
}

std::optional<std::string_view> URLComponents::percentEncodedQuery() const {
    if (!has(kQuery)) return std::nullopt;
    return slice(pathEnd_ + 1, queryEnd_);
}

std::optional<std::string_view> URLComponents::percentEncodedFragment() const {
    if (!has(kFragment)) return std::nullopt;
    return slice(queryEnd_ + 1, static_cast<std::uint32_t>(text_.size()));
}

std::optional<std::string> URLComponents::user() const {
    return decodePart(percentEncodedUser());
}
std::optional<std::string> URLComponents::password() const {
    return decodePart(percentEncodedPassword());
}
std::optional<std::string> URLComponents::host() const {
    return decodePart(percentEncodedHost());
}
std::optional<std::string> URLComponents::path() const {
    return text::percentDecode(percentEncodedPath());
}
std::optional<std::string> URLComponents::query() const {
    return decodePart(percentEncodedQuery());
}
std::optional<std::string> URLComponents::fragment() const {
    return decodePart(percentEncodedFragment());
}

std::vector<URLQueryItemView> URLComponents::percentEncodedQueryItemViews() const {
    std::vector<URLQueryItemView> items;
    forEachItem(percentEncodedQuery().value_or(std::string_view()),
                [&items](const URLQueryItemView& item) { items.push_back(item); });
    return items;
}

std::vector<URLQueryItem> URLComponents::percentEncodedQueryItems() const {
    std::vector<URLQueryItem> items;
    forEachItem(percentEncodedQuery().value_or(std::string_view()), [&items](const URLQueryItemView& item) {
        items.push_back({std::string(item.name), item.value ? std::optional<std::string>(*item.value) : std::nullopt});
    });
    return items;
}

std::size_t URLComponents::queryItemCount() const {
    const std::string_view query = percentEncodedQuery().value_or(std::string_view());
    if (query.empty()) return 0;
    std::size_t count = 1;
    for (char c : query)
        count += c == '&' ? 1 : 0;
    return count;
}

std::optional<std::vector<URLQueryItem>> URLComponents::queryItems() const {
    std::vector<URLQueryItem> items;
    bool ok = true;
    forEachItem(percentEncodedQuery().value_or(std::string_view()), [&](const URLQueryItemView& item) {
        if (!ok) return;
        auto name = text::percentDecode(item.name);
        std::optional<std::string> value;
        if (item.value) value = text::percentDecode(*item.value);
        if (!name || (item.value && !value)) {
            ok = false;
            return;
        }
        items.push_back({std::move(*name), std::move(value)});
    });
    if (!ok) return std::nullopt;
    return items;
}

// Compacts the kept items in place, left to right: an item only ever moves towards the start, onto
// bytes already visited, so the views handed to the predicate stay intact while it runs.
std::size_t URLComponents::removeQueryItemsImpl(RemovePredicate predicate, void* context) {
    if (!has(kQuery) || queryEnd_ == pathEnd_ + 1) return 0;
    const std::size_t queryStart = pathEnd_ + 1;
    const std::size_t queryEnd = queryEnd_;
    char* data = text_.data();
    std::size_t write = queryStart;
    std::size_t start = queryStart;
    std::size_t removed = 0;
    bool keptAny = false;
    while (true) {
        const void* amp = std::memchr(data + start, '&', queryEnd - start);
        const std::size_t end =
            amp != nullptr ? static_cast<std::size_t>(static_cast<const char*>(amp) - data) : queryEnd;
        if (predicate(context, splitItem(std::string_view(data + start, end - start)))) {
            ++removed;
        } else {
            if (keptAny) data[write++] = '&';
            if (write != start) std::memmove(data + write, data + start, end - start);
            write += end - start;
            keptAny = true;
        }
        if (amp == nullptr) break;
        start = end + 1;
    }
    if (removed == 0) return 0;
    if (write == queryStart) {
        // Nothing, or a lone empty item, is left: drop the "?" as well.
        text_.erase(pathEnd_, queryEnd - pathEnd_);
        queryEnd_ = pathEnd_;
        flags_ = static_cast<std::uint8_t>(flags_ & ~kQuery);
    } else {
        text_.erase(write, queryEnd - write);
        queryEnd_ = static_cast<std::uint32_t>(write);
    }
    return removed;
}

bool URLComponents::removeQueryItem(std::size_t index) {
    std::size_t current = 0;
    return removeQueryItems([&current, index](const URLQueryItemView&) { return current++ == index; }) == 1;
}

bool URLComponents::spliceAndCheck(std::size_t begin, std::size_t end, std::string_view replacement, int changedPart,
                                   std::optional<std::string_view> expected, unsigned clearedParts) {
    std::string candidate;
    candidate.reserve(text_.size() - (end - begin) + replacement.size());
    candidate.append(text_, 0, begin).append(replacement).append(text_, end);
    URLComponents next;
    if (!next.parseInto(candidate)) return false;
    const auto before = parts();
    const auto after = next.parts();
    for (int part = 0; part < static_cast<int>(before.size()); ++part) {
        const std::optional<std::string_view> want = part == changedPart                  ? expected
                                                     : ((clearedParts >> part) & 1U) != 0 ? std::nullopt
                                                                                          : before[part];
        if (after[part] != want) return false;
    }
    *this = std::move(next);
    return true;
}

std::array<std::optional<std::string_view>, 8> URLComponents::parts() const {
    return {scheme(),   percentEncodedUser(), percentEncodedPassword(), percentEncodedHost(),
            portText(), percentEncodedPath(), percentEncodedQuery(),    percentEncodedFragment()};
}

bool URLComponents::setPercentEncodedQueryItems(const std::vector<URLQueryItem>& items) {
    std::string query;
    for (const URLQueryItem& item : items) {
        const bool nameOk = isEncodedPart(item.name, kQueryRead) && item.name.find_first_of("&=") == std::string::npos;
        const bool valueOk =
            !item.value || (isEncodedPart(*item.value, kQueryRead) && item.value->find('&') == std::string::npos);
        if (!nameOk || !valueOk) return false;
        if (&item != &items.front()) query.push_back('&');
        query.append(item.name);
        if (item.value) query.append("=").append(*item.value);
    }
    return setPercentEncodedQuery(query.empty() ? std::nullopt : std::optional<std::string_view>(query));
}

void URLComponents::setQueryItems(const std::vector<URLQueryItem>& items) {
    std::string query;
    for (const URLQueryItem& item : items) {
        if (&item != &items.front()) query.push_back('&');
        percentEncodeInto(query, item.name, kQueryItemChar);
        if (item.value) {
            query.push_back('=');
            percentEncodeInto(query, *item.value, kQueryItemChar);
        }
    }
    setPercentEncodedQuery(query.empty() ? std::nullopt : std::optional<std::string_view>(query));
}

bool URLComponents::setPercentEncodedQuery(std::optional<std::string_view> query) {
    const std::size_t end = has(kQuery) ? queryEnd_ : pathEnd_;
    if (!query) return spliceAndCheck(pathEnd_, end, {}, kQueryPart, std::nullopt);
    if (!isEncodedPart(*query, kQueryRead)) return false;
    std::string replacement = "?";
    replacement.append(*query);
    return spliceAndCheck(pathEnd_, end, replacement, kQueryPart, *query);
}

void URLComponents::setQuery(std::optional<std::string_view> query) {
    if (!query) {
        setPercentEncodedQuery(std::nullopt);
        return;
    }
    setPercentEncodedQuery(percentEncode(*query, kQueryChar));
}

bool URLComponents::setPercentEncodedFragment(std::optional<std::string_view> fragment) {
    if (!fragment) return spliceAndCheck(queryEnd_, text_.size(), {}, kFragmentPart, std::nullopt);
    if (!isEncodedPart(*fragment, kFragmentRead)) return false;
    std::string replacement = "#";
    replacement.append(*fragment);
    return spliceAndCheck(queryEnd_, text_.size(), replacement, kFragmentPart, *fragment);
}

void URLComponents::setFragment(std::optional<std::string_view> fragment) {
    if (!fragment) {
        setPercentEncodedFragment(std::nullopt);
        return;
    }
    setPercentEncodedFragment(percentEncode(*fragment, kQueryChar));
}

bool URLComponents::setPercentEncodedPath(std::string_view path) {
    if (!isEncodedPart(path, kPathRead)) return false;
    return spliceAndCheck(pathStart_, pathEnd_, path, kPathPart, path);
}

bool URLComponents::setPath(std::string_view path) {
    return setPercentEncodedPath(percentEncode(path, kPathChar));
}

bool URLComponents::setPercentEncodedHost(std::optional<std::string_view> host) {
    if (!host) {
        if (!has(kAuthority)) return true;
        constexpr unsigned authorityParts = (1U << kUserPart) | (1U << kPasswordPart) | (1U << kPortPart);
        return spliceAndCheck(authorityStart_ - 2, pathStart_, {}, kHostPart, std::nullopt, authorityParts);
    }
    if (has(kAuthority)) return spliceAndCheck(hostStart_, hostEnd_, *host, kHostPart, *host);
    std::string replacement = "//";
    replacement.append(*host);
    return spliceAndCheck(pathStart_, pathStart_, replacement, kHostPart, *host);
}

bool URLComponents::setHost(std::optional<std::string_view> host) {
    if (!host || (!host->empty() && host->front() == '[')) return setPercentEncodedHost(host);
    return setPercentEncodedHost(percentEncode(*host, kRegNameChar));
}

bool URLComponents::setScheme(std::optional<std::string_view> scheme) {
    const std::size_t end = has(kScheme) ? schemeEnd_ + 1 : 0;
    if (!scheme) return spliceAndCheck(0, end, {}, kSchemePart, std::nullopt);
    if (!isScheme(*scheme)) return false;
    std::string replacement(*scheme);
    replacement.push_back(':');
    return spliceAndCheck(0, end, replacement, kSchemePart, *scheme);
}

}  // namespace tessaril
