// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace tessaril {

// One query item: the text before the first "=" and, when there is an "=", the text after it.
// Depending on where it comes from the texts are percent-encoded (as written in the link) or decoded.
struct URLQueryItem {
    std::string name;
    std::optional<std::string> value;
    bool operator==(const URLQueryItem&) const = default;
};

// A query item as written, viewing the text of the URLComponents it came from. Valid until that
// object is changed or destroyed.
struct URLQueryItemView {
    std::string_view name;
    std::optional<std::string_view> value;
    bool operator==(const URLQueryItemView&) const = default;
};

// A URI reference split into its parts, kept exactly as written.
//
// The text lives in one string and the parts are offsets into it, so parsing costs one copy and one
// pass, the percent-encoded views are free, and string() hands back the stored text. Nothing is ever
// normalised: case, escapes and empty parts survive, and parse(s)->string() == s for every accepted s.
//
// Parsing follows the URI grammar strictly for ASCII (structure, allowed characters per part, well
// formed %XX escapes, numeric port up to 65535, checked IPv6 literals) with two readings of real-world
// links: "[" and "]" may appear in a path, query or fragment, and "#" inside a fragment. Any non-ASCII
// character in valid UTF-8 is accepted outside the scheme and port, because people paste
// internationalised links as they read them. Spaces, control characters (C0, DEL and C1), invalid
// UTF-8 and the other characters the grammar leaves out (such as <>"{}|\^`) are rejected.
//
// Decoded views return no value both when the part is absent and when its escapes do not decode to
// valid UTF-8; ask the percent-encoded view to tell the two apart.
class URLComponents {
public:
    // The empty relative reference "".
    URLComponents() = default;

    [[nodiscard]] static std::optional<URLComponents> parse(std::string_view text);
    // As parse(), into this object, reusing its storage; false leaves it as it was.
    bool parseInto(std::string_view text);

    // The whole reference, serialised. Parts set through the setters are part of it at once.
    [[nodiscard]] const std::string& string() const noexcept { return text_; }

    [[nodiscard]] std::optional<std::string_view> scheme() const;
    // True when the reference has "//" and an authority (the host may still be empty, as in "file:///").
    [[nodiscard]] bool hasAuthority() const noexcept { return has(kAuthority); }

    [[nodiscard]] std::optional<std::string_view> percentEncodedUser() const;
    [[nodiscard]] std::optional<std::string_view> percentEncodedPassword() const;
    // Present whenever there is an authority; an IP literal keeps its brackets ("[::1]").
    [[nodiscard]] std::optional<std::string_view> percentEncodedHost() const;
    // The port's digits as written; present but empty for "host:".
    [[nodiscard]] std::optional<std::string_view> portText() const;
    // The port number; absent when there is no port or its text is empty.
    [[nodiscard]] std::optional<int> port() const;
    [[nodiscard]] std::string_view percentEncodedPath() const;
    // "?" alone gives an empty query, which differs from no query.
    [[nodiscard]] std::optional<std::string_view> percentEncodedQuery() const;
    // "#" alone gives an empty fragment, which differs from no fragment.
    [[nodiscard]] std::optional<std::string_view> percentEncodedFragment() const;

    [[nodiscard]] std::optional<std::string> user() const;
    [[nodiscard]] std::optional<std::string> password() const;
    // Decoded as it stands: an IP literal keeps its brackets, and "%25" in a zone becomes "%".
    [[nodiscard]] std::optional<std::string> host() const;
    // Absent only when the path's escapes do not decode.
    [[nodiscard]] std::optional<std::string> path() const;
    [[nodiscard]] std::optional<std::string> query() const;
    [[nodiscard]] std::optional<std::string> fragment() const;

    // The query split on "&" (never ";"), each item on its first "=". An absent or empty query has no
    // items; "a&&b" has three, the middle one with an empty name and no value.
    [[nodiscard]] std::vector<URLQueryItem> percentEncodedQueryItems() const;
    // The same without copies; the views last until this object changes.
    [[nodiscard]] std::vector<URLQueryItemView> percentEncodedQueryItemViews() const;
    [[nodiscard]] std::size_t queryItemCount() const;
    // Decoded items ("+" stays "+"); absent when any name or value does not decode.
    [[nodiscard]] std::optional<std::vector<URLQueryItem>> queryItems() const;

    // Removes the items for which `shouldRemove(const URLQueryItemView&)` is true; it is called once
    // per item, in order, and the views it gets are valid during that call only. The kept items keep
    // their bytes and order, joined by "&"; when nothing (or only one empty item) is left, the "?"
    // goes too. Returns how many items were removed; with none removed the text is untouched.
    template <class Predicate>
    std::size_t removeQueryItems(Predicate&& shouldRemove);
    // Removes the item at `index` in percentEncodedQueryItems(); false when there is no such item.
    bool removeQueryItem(std::size_t index);

    // Setters. Those taking percent-encoded text check it and return false, changing nothing, when it
    // is not valid for that part or would change the meaning of another part. Those taking decoded
    // text percent-encode (upper-case hex) every ASCII character the part does not allow, and "%";
    // non-ASCII characters are kept raw, while C1 controls and bytes that are not valid UTF-8 are
    // percent-encoded byte by byte. Setting no items (or items that join to nothing), or no query,
    // removes the "?".
    bool setPercentEncodedQueryItems(const std::vector<URLQueryItem>& items);
    // Encodes "&", "=", "#", "+", "%" and whatever a query may not hold, in names and values.
    void setQueryItems(const std::vector<URLQueryItem>& items);
    bool setPercentEncodedQuery(std::optional<std::string_view> query);
    // "&", "=" and "+" are kept as they are: they carry meaning in a whole query.
    void setQuery(std::optional<std::string_view> query);
    bool setPercentEncodedFragment(std::optional<std::string_view> fragment);
    void setFragment(std::optional<std::string_view> fragment);
    // Fails when the path does not fit the rest: with an authority it must be empty or start with
    // "/"; without one it must not start with "//"; without a scheme either, its first segment must
    // not hold ":".
    bool setPercentEncodedPath(std::string_view path);
    bool setPath(std::string_view path);
    // No host removes the whole authority (user, password and port with it). A host starting with "["
    // is taken as an IP literal, verbatim.
    bool setPercentEncodedHost(std::optional<std::string_view> host);
    bool setHost(std::optional<std::string_view> host);
    // A scheme is a letter followed by letters, digits, "+", "-" or "."; its case is kept.
    bool setScheme(std::optional<std::string_view> scheme);

    friend bool operator==(const URLComponents& a, const URLComponents& b) noexcept { return a.text_ == b.text_; }

private:
    enum Flag : std::uint8_t {
        kScheme = 1,
        kAuthority = 2,
        kUserinfo = 4,
        kPassword = 8,
        kPort = 16,
        kQuery = 32,
        kFragment = 64,
    };
    using RemovePredicate = bool (*)(void* context, const URLQueryItemView& item);

    [[nodiscard]] bool has(Flag flag) const noexcept { return (flags_ & flag) != 0; }
    [[nodiscard]] std::string_view slice(std::uint32_t begin, std::uint32_t end) const noexcept {
        return std::string_view(text_).substr(begin, end - begin);
    }
    std::size_t removeQueryItemsImpl(RemovePredicate predicate, void* context);
    // Replaces text_[begin, end) with `replacement` and reparses. The result is kept only when part
    // `changedPart` now reads `expected`, the parts in `clearedParts` (a bit mask) are gone, and every
    // other part is as before; so a setter can never shift text from one part into another.
    bool spliceAndCheck(std::size_t begin, std::size_t end, std::string_view replacement, int changedPart,
                        std::optional<std::string_view> expected, unsigned clearedParts = 0);
    [[nodiscard]] std::array<std::optional<std::string_view>, 8> parts() const;

    std::string text_;
    std::uint32_t schemeEnd_ = 0;       // the ":" after the scheme
    std::uint32_t authorityStart_ = 0;  // just after "//"
    std::uint32_t userEnd_ = 0;         // the ":" before the password, or the "@"
    std::uint32_t hostStart_ = 0;
    std::uint32_t hostEnd_ = 0;  // the ":" before the port, or the path's start
    std::uint32_t pathStart_ = 0;
    std::uint32_t pathEnd_ = 0;   // the "?", the "#" or the end
    std::uint32_t queryEnd_ = 0;  // the "#" or the end
    std::int32_t port_ = -1;
    std::uint8_t flags_ = 0;
};

template <class Predicate>
std::size_t URLComponents::removeQueryItems(Predicate&& shouldRemove) {
    using Callable = std::remove_reference_t<Predicate>;
    return removeQueryItemsImpl(
        [](void* context, const URLQueryItemView& item) -> bool {
            return static_cast<bool>((*static_cast<Callable*>(context))(item));
        },
        const_cast<void*>(static_cast<const void*>(std::addressof(shouldRemove))));
}

}  // namespace tessaril
