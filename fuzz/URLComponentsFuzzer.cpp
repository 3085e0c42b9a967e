// SPDX-License-Identifier: GPL-3.0-or-later
// URLComponents on arbitrary bytes. Beyond "no crash", it checks what the cleaner relies on: accepted
// text is valid UTF-8 holding no blank, control character, broken escape or character no part may
// hold; it serialises back to itself and parses to the same parts again; removing one query item
// leaves every other byte of the link alone; decoded views never hand out invalid UTF-8 silently.
#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"
#include "fuzz/FuzzSupport.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tessaril::URLComponents;
using tessaril::URLQueryItem;
namespace text = tessaril::text;

// Removal is checked item by item, which is quadratic; past this many items it only samples.
constexpr std::size_t kMaximumItemsChecked = 48;

// A decoded view is either valid UTF-8 or absent, and absent only when the written text really does
// not decode (or the part is not there at all).
void checkDecodedView(std::optional<std::string_view> encoded, const std::optional<std::string>& decoded) {
    if (decoded) {
        FUZZ_CHECK(encoded.has_value());
        FUZZ_CHECK(text::isValidUtf8(*decoded));
        FUZZ_CHECK(text::percentDecode(*encoded) == decoded);
    } else if (encoded) {
        FUZZ_CHECK(!text::percentDecode(*encoded).has_value());
    }
}

void checkDecodedViews(const URLComponents& url) {
    checkDecodedView(url.percentEncodedUser(), url.user());
    checkDecodedView(url.percentEncodedPassword(), url.password());
    checkDecodedView(url.percentEncodedHost(), url.host());
    checkDecodedView(url.percentEncodedPath(), url.path());
    checkDecodedView(url.percentEncodedQuery(), url.query());
    checkDecodedView(url.percentEncodedFragment(), url.fragment());

    const auto encodedItems = url.percentEncodedQueryItems();
    FUZZ_CHECK(encodedItems.size() == url.queryItemCount());
    const auto items = url.queryItems();
    bool allDecode = true;
    for (const auto& item : encodedItems) {
        allDecode = allDecode && text::percentDecode(item.name) && (!item.value || text::percentDecode(*item.value));
    }
    FUZZ_CHECK(items.has_value() == allDecode);
    if (items) {
        FUZZ_CHECK(items->size() == encodedItems.size());
        for (const auto& item : *items) {
            FUZZ_CHECK(text::isValidUtf8(item.name));
            FUZZ_CHECK(!item.value || text::isValidUtf8(*item.value));
        }
    }
}

// No part may hold a blank, a control character (C1 included) or one of these, and every "%" starts
// an escape of two hex digits; the text is valid UTF-8.
bool holdsOnlyLinkText(std::string_view link) {
    if (!text::isValidUtf8(link) || !tessaril::fuzz::holdsNoControlOrBlank(link)) return false;
    if (link.find_first_of("\"<>\\^`{|}") != std::string_view::npos) return false;
    const auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    for (auto at = link.find('%'); at != std::string_view::npos; at = link.find('%', at + 1)) {
        if (at + 2 >= link.size() || !hex(link[at + 1]) || !hex(link[at + 2])) return false;
    }
    return true;
}

// Every part but the query is the same in both.
void checkSamePartsOutsideQuery(const URLComponents& a, const URLComponents& b) {
    FUZZ_CHECK(a.scheme() == b.scheme());
    FUZZ_CHECK(a.hasAuthority() == b.hasAuthority());
    FUZZ_CHECK(a.percentEncodedUser() == b.percentEncodedUser());
    FUZZ_CHECK(a.percentEncodedPassword() == b.percentEncodedPassword());
    FUZZ_CHECK(a.percentEncodedHost() == b.percentEncodedHost());
    FUZZ_CHECK(a.portText() == b.portText());
    FUZZ_CHECK(a.port() == b.port());
    FUZZ_CHECK(a.percentEncodedPath() == b.percentEncodedPath());
    FUZZ_CHECK(a.percentEncodedFragment() == b.percentEncodedFragment());
}

// Two parses of the same reference agree on every part.
void checkSameParts(const URLComponents& a, const URLComponents& b) {
    FUZZ_CHECK(a.string() == b.string());
    checkSamePartsOutsideQuery(a, b);
    FUZZ_CHECK(a.percentEncodedQuery() == b.percentEncodedQuery());
}

std::optional<std::string> joined(const std::vector<URLQueryItem>& items) {
    std::string query;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) query += '&';
        query += items[i].name;
        if (items[i].value) query += '=' + *items[i].value;
    }
    // Nothing left to carry means no "?" at all.
    if (query.empty()) return std::nullopt;
    return query;
}

// Removing item `index` keeps the bytes of everything else: the other items in order, and every part
// outside the query. The result is itself an accepted reference.
void checkRemoval(const URLComponents& url, const std::vector<URLQueryItem>& items, std::size_t index) {
    std::vector<URLQueryItem> expected = items;
    expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(index));
    const auto expectedQuery = joined(expected);

    URLComponents byIndex = url;
    FUZZ_CHECK(byIndex.removeQueryItem(index));
    FUZZ_CHECK(byIndex.percentEncodedQuery() ==
               (expectedQuery ? std::optional<std::string_view>(*expectedQuery) : std::optional<std::string_view>()));
    checkSamePartsOutsideQuery(byIndex, url);

    const auto reparsed = URLComponents::parse(byIndex.string());
    FUZZ_CHECK(reparsed.has_value());
    checkSameParts(*reparsed, byIndex);

    // The predicate form, called once per item in order, gives the same text.
    URLComponents byPredicate = url;
    std::size_t calls = 0;
    const std::size_t removed =
        byPredicate.removeQueryItems([&](const tessaril::URLQueryItemView&) { return calls++ == index; });
    FUZZ_CHECK(removed == 1);
    FUZZ_CHECK(calls == items.size());
    FUZZ_CHECK(byPredicate == byIndex);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // The decoder on its own: success means valid UTF-8.
    if (const auto decoded = text::percentDecode(input)) FUZZ_CHECK(text::isValidUtf8(*decoded));

    const auto url = URLComponents::parse(input);
    if (!url) return 0;
    FUZZ_CHECK(holdsOnlyLinkText(input));
    FUZZ_CHECK(url->string() == input);
    const auto again = URLComponents::parse(url->string());
    FUZZ_CHECK(again.has_value());
    checkSameParts(*url, *again);
    checkDecodedViews(*url);

    const auto items = url->percentEncodedQueryItems();
    const std::size_t step = items.size() <= kMaximumItemsChecked ? 1 : items.size() / kMaximumItemsChecked + 1;
    for (std::size_t index = 0; index < items.size(); index += step)
        checkRemoval(*url, items, index);

    // Removing nothing leaves the text untouched.
    URLComponents untouched = *url;
    FUZZ_CHECK(untouched.removeQueryItems([](const tessaril::URLQueryItemView&) { return false; }) == 0);
    FUZZ_CHECK(untouched == *url);
    FUZZ_CHECK(!untouched.removeQueryItem(items.size()));
    return 0;
}
