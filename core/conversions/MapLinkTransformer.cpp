// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversions/MapLinkTransformer.h"

#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tessaril {

namespace {

constexpr std::string_view kAppleMapsHost = "maps.apple.com";
constexpr std::string_view kAppleMapsRoot = "https://maps.apple.com";
constexpr std::string_view kGoogleMapsRoot = "https://www.google.com";

// One parameter of the link: decoded for the checks, and as written, so that a value carried over
// to the other service keeps every byte (a "+" that means a blank stays apart from a "%2B").
struct QueryValue {
    std::string decoded;
    std::string encoded;
};

class QueryMap {
public:
    // The first item of a name that has a value wins; bare names do not count at all. Nothing when
    // a name or value does not decode.
    static std::optional<QueryMap> of(const URLComponents& components) {
        QueryMap query;
        for (const auto& item : components.percentEncodedQueryItemViews()) {
            if (!item.value) continue;
            auto name = text::percentDecode(item.name);
            auto value = text::percentDecode(*item.value);
            if (!name || !value) return std::nullopt;
            query.values_.try_emplace(std::move(*name), QueryValue{std::move(*value), std::string(*item.value)});
        }
        return query;
    }

    [[nodiscard]] const QueryValue* find(std::string_view name) const {
        const auto found = values_.find(name);
        return found == values_.end() ? nullptr : &found->second;
    }
    // Present and not blank.
    [[nodiscard]] const QueryValue* usable(std::string_view name) const {
        const QueryValue* value = find(name);
        return value != nullptr && !text::trim(value->decoded).empty() ? value : nullptr;
    }
    [[nodiscard]] bool empty() const { return values_.empty(); }
    [[nodiscard]] bool onlyHas(std::initializer_list<std::string_view> allowed) const {
        return std::all_of(values_.begin(), values_.end(), [&allowed](const auto& entry) {
            return std::find(allowed.begin(), allowed.end(), entry.first) != allowed.end();
        });
    }

private:
    std::map<std::string, QueryValue, std::less<>> values_;
};

// The whole text as one floating-point number, as the usual text-to-number conversion reads it:
// an optional sign, digits with an optional fraction and exponent; no blanks.
std::optional<double> number(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end) return std::nullopt;
    return value;
}

// "latitude,longitude", each a number; the values are not range-checked.
bool isCoordinatePair(std::string_view text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos) return false;
    const std::string_view longitude = text.substr(comma + 1);
    return longitude.find(',') == std::string_view::npos && number(text.substr(0, comma)) && number(longitude);
}

bool isValidZoom(std::string_view text) {
    const auto zoom = number(text);
    return zoom && *zoom >= 0 && *zoom <= 22;
}

// The Apple direction flag is compared exactly; the Google travel mode ignores case.
std::optional<std::string_view> googleTravelMode(std::string_view flag) {
    if (flag == "d") return "driving";
    if (flag == "w") return "walking";
    if (flag == "r") return "transit";
    return std::nullopt;
}

std::optional<std::string_view> appleDirectionFlag(std::string_view mode) {
    const std::string lower = text::toLower(mode);
    if (lower == "driving") return "d";
    if (lower == "walking") return "w";
    if (lower == "transit") return "r";
    return std::nullopt;
}

// Google's place path "/maps/search/LABEL/@LAT,LONG,ZOOMz", read from the decoded path.
struct GooglePlace {
    std::string label;
    std::string coordinates;
    std::string zoom;
};

std::optional<GooglePlace> googlePathState(std::string_view path) {
    const auto pieces = text::nonEmptyPieces(path, '/');
    if (pieces.size() != 4 || pieces[0] != "maps" || pieces[1] != "search" || !pieces[3].starts_with('@')) {
        return std::nullopt;
    }
    const auto position = text::nonEmptyPieces(pieces[3].substr(1), ',');
    if (position.size() != 3 || !position[2].ends_with('z')) return std::nullopt;
    std::string coordinates = std::string(position[0]) + "," + std::string(position[1]);
    const std::string_view zoom = position[2].substr(0, position[2].size() - 1);
    if (!isCoordinatePair(coordinates) || !isValidZoom(zoom)) return std::nullopt;
    return GooglePlace{std::string(pieces[2]), std::move(coordinates), std::string(zoom)};
}

// The link on `root` with a percent-encoded path and items; nothing when they do not make a link.
std::optional<std::string> build(std::string_view root, std::string_view path, const std::vector<URLQueryItem>& items) {
    auto link = URLComponents::parse(root);
    if (!link || !link->setPercentEncodedPath(path) || !link->setPercentEncodedQueryItems(items)) return std::nullopt;
    return link->string();
}

// A query value as written, made fit for one path segment.
std::string asPathSegment(std::string_view encodedQueryValue) {
    std::string segment;
    for (const char c : encodedQueryValue) {
        if (c == '/') {
            segment += "%2F";
        } else if (c == '?') {
            segment += "%3F";
        } else {
            segment += c;
        }
    }
    return segment;
}

// Decoded text as a query value. "+" stays as it is: in a place label it stands for a blank, and
// both services read it so in a query.
std::string asQueryValue(std::string_view decoded) {
    return text::percentEncode(decoded, "!$'()*+,;:@/?");
}

std::optional<std::string> appleToGoogle(const QueryMap& query) {
    if (const QueryValue* destination = query.usable("daddr")) {
        if (!query.onlyHas({"saddr", "daddr", "dirflg"})) return std::nullopt;
        std::optional<std::string_view> mode;
        if (const QueryValue* flag = query.find("dirflg")) {
            mode = googleTravelMode(flag->decoded);
            if (!mode) return std::nullopt;
        }
        std::vector<URLQueryItem> items{{"api", "1"}};
        if (const QueryValue* origin = query.usable("saddr")) items.push_back({"origin", origin->encoded});
        items.push_back({"destination", destination->encoded});
        if (mode) items.push_back({"travelmode", std::string(*mode)});
        return build(kGoogleMapsRoot, "/maps/dir/", items);
    }

    if (const QueryValue* coordinates = query.find("ll"); coordinates && isCoordinatePair(coordinates->decoded)) {
        if (!query.onlyHas({"q", "ll", "z"})) return std::nullopt;
        const QueryValue* zoom = query.find("z");
        if (zoom && !isValidZoom(zoom->decoded)) return std::nullopt;
        const QueryValue* label = query.usable("q");
        // Google's search takes no zoom, so coordinates alone lose it.
        if (!label) return build(kGoogleMapsRoot, "/maps/search/", {{"api", "1"}, {"query", coordinates->encoded}});
        if (!zoom) {
            return build(kGoogleMapsRoot, "/maps/search/",
                         {{"api", "1"}, {"query", label->encoded + "%20" + coordinates->encoded}});
        }
        return build(
            kGoogleMapsRoot,
            "/maps/search/" + asPathSegment(label->encoded) + "/@" + coordinates->decoded + "," + zoom->decoded + "z",
            {});
    }

    const QueryValue* search = query.find("q");
    if (search == nullptr) search = query.find("address");
    if (search == nullptr || text::trim(search->decoded).empty()) return std::nullopt;
    if (!query.onlyHas({"q", "address"}) || (query.find("q") && query.find("address"))) return std::nullopt;
    return build(kGoogleMapsRoot, "/maps/search/", {{"api", "1"}, {"query", search->encoded}});
}

std::optional<std::string> googleToApple(const URLComponents& components, const QueryMap& query) {
    // A place identifier means nothing to the other service.
    if (query.find("query_place_id")) return std::nullopt;
    const auto isApiOne = [&query] {
        const QueryValue* api = query.find("api");
        return api == nullptr || api->decoded == "1";
    };
    const auto path = components.path();

    const QueryValue* destination = query.usable("destination");
    if (destination && (path == "/maps/dir" || path == "/maps/dir/")) {
        if (!query.onlyHas({"api", "origin", "destination", "travelmode"}) || !isApiOne()) return std::nullopt;
        std::optional<std::string_view> flag;
        if (const QueryValue* mode = query.find("travelmode")) {
            flag = appleDirectionFlag(mode->decoded);
            if (!flag) return std::nullopt;
        }
        std::vector<URLQueryItem> items;
        if (const QueryValue* origin = query.usable("origin")) items.push_back({"saddr", origin->encoded});
        items.push_back({"daddr", destination->encoded});
        if (flag) items.push_back({"dirflg", std::string(*flag)});
        return build(kAppleMapsRoot, "/", items);
    }

    if (const auto place = path ? googlePathState(*path) : std::optional<GooglePlace>()) {
        if (!query.empty()) return std::nullopt;
        return build(kAppleMapsRoot, "/",
                     {{"q", asQueryValue(place->label)},
                      {"ll", asQueryValue(place->coordinates)},
                      {"z", asQueryValue(place->zoom)}});
    }

    const QueryValue* search = query.usable("query");
    if (search == nullptr || !query.onlyHas({"api", "query"}) || !isApiOne()) return std::nullopt;
    return build(kAppleMapsRoot, "/", {{isCoordinatePair(search->decoded) ? "ll" : "q", search->encoded}});
}

// The bare domain, its subdomains, and the "www" host under any country ending ("www.google.de").
bool isGoogleHost(std::string_view host) {
    constexpr std::string_view countryPrefix = "www.google.";
    return host == "google.com" || host.ends_with(".google.com") ||
           (host.starts_with(countryPrefix) && host.size() > countryPrefix.size());
}

}  // namespace

std::optional<MapLinkTransformation> MapLinkTransformer::transform(std::string_view urlString) {
    const auto link = URLComponents::parse(urlString);
    if (!link || text::asciiLower(link->scheme().value_or("")) != "https") return std::nullopt;
    if (link->percentEncodedUser() || link->percentEncodedPassword() || link->portText()) return std::nullopt;
    const auto host = link->host();
    const auto query = QueryMap::of(*link);
    if (!host || !query) return std::nullopt;

    const std::string lowerHost = text::toLower(*host);
    MapLinkTarget target = MapLinkTarget::googleMaps;
    std::optional<std::string> converted;
    if (lowerHost == kAppleMapsHost) {
        converted = appleToGoogle(*query);
    } else if (isGoogleHost(lowerHost)) {
        target = MapLinkTarget::appleMaps;
        converted = googleToApple(*link, *query);
    }
    if (!converted) return std::nullopt;

    CleanOperation operation;
    operation.kind = CleanOperationKind::functionalTransformation;
    operation.inputURL = urlString;
    operation.outputURL = *converted;
    operation.note = target == MapLinkTarget::googleMaps ? "Open in Google Maps" : "Open in Apple Maps";
    return MapLinkTransformation{target, std::move(*converted), std::move(operation)};
}

}  // namespace tessaril
