// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/WrapperDecoding.h"

#include "core/cleaning/RedirectTarget.h"
#include "core/foundation/Base64.h"
#include "core/foundation/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <exception>
#include <vector>

namespace tessaril {

namespace {

std::optional<std::string> base64Target(std::string_view captured, base64::Alphabet alphabet) {
    std::string scratch;
    if (captured.find('%') != std::string_view::npos) {
        auto unescaped = text::percentDecode(captured);
        if (!unescaped) return std::nullopt;
        scratch = std::move(*unescaped);
        captured = scratch;
    }
    return base64::decode(captured, alphabet, kMaximumDecodedTarget);
}

std::optional<std::string> urlDefenseV2Target(std::string_view captured) {
    std::string escaped(captured);
    for (char& c : escaped) {
        if (c == '-') c = '%';
        if (c == '_') c = '/';
    }
    return text::percentDecode(escaped);
}

// The length of the run "**" and `letter` stand for; 0 for a letter that stands for none.
std::size_t runLength(char letter) {
    if (letter >= 'A' && letter <= 'Z') return static_cast<std::size_t>(letter - 'A') + 2;
    if (letter >= 'a' && letter <= 'z') return static_cast<std::size_t>(letter - 'a') + 28;
    if (letter >= '0' && letter <= '9') return static_cast<std::size_t>(letter - '0') + 54;
    if (letter == '-') return 64;
    if (letter == '_') return 65;
    return 0;
}

// The UTF-8 characters of valid UTF-8 text, one view each.
std::vector<std::string_view> characters(std::string_view text) {
    std::vector<std::string_view> list;
    for (std::size_t at = 0; at < text.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        list.push_back(text.substr(at, length));
        at += length;
    }
    return list;
}

// Some mail clients fold "//" after the scheme into one slash; the gateway's links are read with it
// put back.
std::string withSchemeSlashes(std::string_view link) {
    const std::size_t colon = link.find(":/");
    if (colon == 0 || colon == std::string_view::npos || link.size() < colon + 4 || link[colon + 2] == '/')
        return std::string(link);
    for (const char c : link.substr(0, colon)) {
        const bool schemeCharacter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                     c == '+' || c == '.' || c == '-';
        if (!schemeCharacter) return std::string(link);
    }
    std::string fixed(link);
    fixed.insert(colon + 2, 1, '/');
    return fixed;
}

std::optional<std::string> urlDefenseV3Target(std::string_view captured) {
    const std::size_t end = captured.find("__;");
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view fields = captured.substr(end + 3);
    const std::size_t bang = fields.find('!');
    if (bang == std::string_view::npos) return std::nullopt;
    std::string taken;
    if (bang > 0) {
        auto bytes = base64::decode(fields.substr(0, bang), base64::Alphabet::urlSafe, kMaximumDecodedTarget);
        if (!bytes || !text::isValidUtf8(*bytes)) return std::nullopt;
        taken = std::move(*bytes);
    }
    const std::vector<std::string_view> takenCharacters = characters(taken);
    const std::string link = withSchemeSlashes(captured.substr(0, end));
    // Escaped as a whole when the scheme's colon is written as an escape.
    const std::size_t schemeEnd = link.find_first_of(":%*");
    const bool escapedWhole = schemeEnd != std::string::npos && link[schemeEnd] == '%';
    const std::string decoded = escapedWhole ? text::percentDecode(link).value_or(link) : link;

    std::string target;
    std::size_t next = 0;
    for (std::size_t at = 0; at < decoded.size(); ++at) {
        if (decoded[at] != '*') {
            target += decoded[at];
        } else {
            std::size_t count = 1;
            if (at + 2 < decoded.size() && decoded[at + 1] == '*') {
                count = runLength(decoded[at + 2]);
                if (count == 0) return std::nullopt;
                at += 2;
            }
            if (count > takenCharacters.size() - next) return std::nullopt;
            for (; count > 0; --count)
                target += takenCharacters[next++];
        }
        if (target.size() > kMaximumDecodedTarget) return std::nullopt;
    }
    return target;
}

bool isWebLink(std::string_view text) {
    const std::string lower = text::toLower(text.substr(0, 8));
    return lower.starts_with("http://") || lower.starts_with("https://");
}

// The one web link among a JSON object's own string members; nothing for none or two. When the
// object names none, a member that is itself the text of an object is read the same way (a click
// record that carries its fields as JSON text in one string); only that one level, and only one
// such link among them all.
std::optional<std::string> linkInRecord(std::string_view json, bool readInnerRecords) {
    if (!json.starts_with('{')) return std::nullopt;
    // Only the object's own members are kept: nested values are dropped as they are read, so that
    // no depth of nesting builds a deep tree.
    const nlohmann::json::parser_callback_t topLevelOnly = [](int depth, nlohmann::json::parse_event_t event,
                                                              nlohmann::json&) {
        return depth <= 1 || event == nlohmann::json::parse_event_t::key;
    };
    const nlohmann::json record = nlohmann::json::parse(json, topLevelOnly, /*allow_exceptions=*/false);
    if (record.is_discarded() || !record.is_object()) return std::nullopt;
    std::optional<std::string> link;
    for (const auto& [key, value] : record.items()) {
        if (!value.is_string() || !isWebLink(value.get_ref<const std::string&>())) continue;
        if (link) return std::nullopt;
        link = value.get<std::string>();
    }
    if (link || !readInnerRecords) return link;
    for (const auto& [key, value] : record.items()) {
        if (!value.is_string()) continue;
        auto inner = linkInRecord(value.get_ref<const std::string&>(), false);
        if (!inner) continue;
        if (link) return std::nullopt;
        link = std::move(inner);
    }
    return link;
}

std::optional<std::string> base64urlJsonTarget(std::string_view captured) {
    auto bytes = base64Target(captured, base64::Alphabet::urlSafe);
    if (!bytes) return std::nullopt;
    return linkInRecord(*bytes, true);
}

std::optional<std::string> pathTarget(std::string_view scheme, std::string_view captured) {
    const std::string_view host = captured.substr(0, captured.find_first_of("/?#"));
    const bool hostCharacters = std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
    if (host.empty() || !hostCharacters || host.find('.') == std::string_view::npos || host.front() == '.' ||
        host.front() == '-')
        return std::nullopt;
    return std::string(scheme) + std::string(captured);
}

std::optional<std::string> decoded(WrapperEncoding encoding, std::string_view captured) {
    switch (encoding) {
        case WrapperEncoding::base64:
            return base64Target(captured, base64::Alphabet::standard);
        case WrapperEncoding::base64url:
            return base64Target(captured, base64::Alphabet::urlSafe);
        case WrapperEncoding::urlDefenseV2:
            return urlDefenseV2Target(captured);
        case WrapperEncoding::urlDefenseV3:
            return urlDefenseV3Target(captured);
        case WrapperEncoding::base64urlJson:
            return base64urlJsonTarget(captured);
        case WrapperEncoding::httpsPath:
            return pathTarget("https://", captured);
        case WrapperEncoding::httpPath:
            return pathTarget("http://", captured);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> decodeWrappedTarget(WrapperEncoding encoding, std::string_view captured) {
    if (captured.size() > kMaximumEncodedTarget) return std::nullopt;
    try {
        auto target = decoded(encoding, captured);
        if (!target || target->size() > kMaximumDecodedTarget || !text::isValidUtf8(*target)) return std::nullopt;
        return decodedRedirectTarget(std::move(*target));
    } catch (const std::exception&) {
        // Only running out of memory can end up here; a wrapper that cannot be decoded is left alone.
        return std::nullopt;
    }
}

}  // namespace tessaril
