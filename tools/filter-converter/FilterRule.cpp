// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/filter-converter/FilterRule.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "core/foundation/Regex.h"
#include "core/foundation/Text.h"

namespace tessaril::filters {

namespace {

// Backslashes before the characters that mean something in a pattern, and nothing else, so that a
// name such as utm_campaign reads as itself in the rule list.
std::string escapeLiteral(std::string_view literal) {
    std::string out;
    for (const char c : literal) {
        if (std::string_view("\\^$.|?*+()[]{}/").find(c) != std::string_view::npos) out += '\\';
        out += c;
    }
    return out;
}

bool isModifierChar(char c) {
    return (c >= 'a' && c <= 'z') || c == '-' || c == '~' || c == '_';
}

// Whether `text` starts with a modifier name followed by its value, the next modifier or the end.
bool startsWithModifier(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isModifierChar(text[i]))
        ++i;
    return i > 0 && (i == text.size() || text[i] == '=' || text[i] == ',');
}

// The "$" that separates the URL pattern from the modifiers: the first one followed by a modifier, so
// that a "$" inside a regular expression value is left alone.
std::optional<std::size_t> modifierStart(std::string_view line) {
    for (std::size_t at = line.find('$'); at != std::string_view::npos; at = line.find('$', at + 1)) {
        if (startsWithModifier(line.substr(at + 1))) return at;
    }
    return std::nullopt;
}

struct Modifier {
    std::string name;
    std::optional<std::string> value;
};

// The end of a "/regex/flags" value starting at `begin` (at its opening slash): the first unescaped
// slash after which only flags come before the next modifier or the end.
std::optional<std::size_t> regexValueEnd(std::string_view text, std::size_t begin) {
    for (std::size_t i = begin + 1; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
            continue;
        }
        if (text[i] != '/') continue;
        std::size_t j = i + 1;
        while (j < text.size() && text[j] >= 'a' && text[j] <= 'z')
            ++j;
        if (j == text.size() || (text[j] == ',' && startsWithModifier(text.substr(j + 1)))) return j;
    }
    return std::nullopt;
}

std::optional<std::vector<Modifier>> readModifiers(std::string_view text) {
    std::vector<Modifier> modifiers;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t nameEnd = at;
        while (nameEnd < text.size() && isModifierChar(text[nameEnd]))
            ++nameEnd;
        if (nameEnd == at) return std::nullopt;
        Modifier modifier{std::string(text.substr(at, nameEnd - at)), std::nullopt};
        at = nameEnd;
        if (at < text.size() && text[at] == '=') {
            ++at;
            std::size_t end = text.find(',', at);
            if (at < text.size() && text[at] == '/') {
                const auto regexEnd = regexValueEnd(text, at);
                if (!regexEnd) return std::nullopt;
                end = *regexEnd;
            }
            if (end == std::string_view::npos) end = text.size();
            modifier.value = std::string(text.substr(at, end - at));
            at = end;
        }
        modifiers.push_back(std::move(modifier));
        if (at < text.size()) {
            if (text[at] != ',') return std::nullopt;
            ++at;
        }
    }
    return modifiers;
}

bool isRequestType(std::string_view name) {
    static constexpr std::array<std::string_view, 14> types{
        "script", "image", "stylesheet", "xmlhttprequest", "xhr",       "subdocument", "frame",
        "media",  "font",  "object",     "ping",           "websocket", "other",       "css"};
    return std::find(types.begin(), types.end(), name) != types.end();
}

// Whether the unescaped character at `at` of a regular expression is `c`, and not escaped.
bool unescapedAt(std::string_view body, std::size_t at, char c) {
    if (at >= body.size() || body[at] != c) return false;
    std::size_t slashes = 0;
    while (slashes < at && body[at - 1 - slashes] == '\\')
        ++slashes;
    return slashes % 2 == 0;
}

bool hasUnescaped(std::string_view body, char c) {
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (unescapedAt(body, i, c)) return true;
    }
    return false;
}

// A name pattern from a "/regex/" value, which the list matches against "name=value". Only the
// regular expressions that look at the name alone translate: anchored at the name's start, and
// either ending at its "=" (the whole name) or not looking past the name at all.
std::variant<std::string, SkipReason> namePatternFromRegex(std::string_view value) {
    const std::size_t close = value.rfind('/');
    const std::string_view flags = value.substr(close + 1);
    if (!std::all_of(flags.begin(), flags.end(), [](char c) { return c == 'i'; })) return SkipReason::badRegex;
    std::string_view body = value.substr(1, close - 1);
    const bool anchored = !body.empty() && body.front() == '^';
    if (anchored) body.remove_prefix(1);
    const bool endsAtEquals = !body.empty() && unescapedAt(body, body.size() - 1, '=');
    if (endsAtEquals) body.remove_suffix(1);
    if (hasUnescaped(body, '=') || hasUnescaped(body, '&') || hasUnescaped(body, '^')) return SkipReason::valueRegex;
    const bool endsAtEnd = !body.empty() && unescapedAt(body, body.size() - 1, '$');
    if (endsAtEnd || hasUnescaped(body, '$')) return SkipReason::valueRegex;
    if (body.empty()) return SkipReason::valueRegex;
    std::string pattern = anchored ? "" : ".*";
    pattern += "(?:";
    pattern += body;
    pattern += ")";
    if (!endsAtEquals) pattern += ".*";
    if (!Regex::compile(pattern, true)) return SkipReason::badRegex;
    return pattern;
}

// The regular expression of the part of a URL pattern after its host: "*" any text, "^" a separator
// or the end, a final "|" the end; everything else literal.
std::string pathRegex(std::string_view path) {
    std::string out;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '*') {
            out += ".*";
        } else if (c == '^') {
            out += "(?:[\\/?#&=:]|$)";
        } else if (c == '|' && i + 1 == path.size()) {
            out += "$";
        } else {
            out += escapeLiteral(std::string_view(&path[i], 1));
        }
    }
    return out;
}

bool isHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '*' || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

struct Target {
    std::string site;
    std::string urlPattern;
};

// The URL pattern of the part before the modifiers; nothing for a rule on every site.
std::variant<std::optional<Target>, SkipReason> readUrlPattern(std::string_view pattern) {
    if (pattern.empty() || pattern == "*") return std::optional<Target>{};
    if (!pattern.starts_with("||")) return SkipReason::unanchoredPattern;
    pattern.remove_prefix(2);
    std::size_t hostEnd = 0;
    while (hostEnd < pattern.size() && isHostChar(pattern[hostEnd]))
        ++hostEnd;
    std::string host(pattern.substr(0, hostEnd));
    // "||yandex." means any name under that label: the top-level domain is left open.
    if (host.ends_with('.')) host += '*';
    if (host.empty() || host == "*") return SkipReason::unanchoredPattern;
    const std::string_view rest = pattern.substr(hostEnd);
    if (!rest.empty() && rest.front() != '^' && rest.front() != '/' && rest.front() != ':') {
        return SkipReason::unanchoredPattern;
    }
    std::string path = rest.empty() || rest == "^" ? std::string() : pathRegex(rest);
    if (!path.empty() && rest.front() == '/') path = "(?::\\d+)?" + path;
    std::string site(pattern);
    if (site.ends_with('^')) site.pop_back();
    return std::optional<Target>{Target{std::move(site), hostUrlPattern(host, path)}};
}

}  // namespace

std::string_view describe(SkipReason reason) {
    switch (reason) {
        case SkipReason::wholeQuery:
            return "remove every parameter";
        case SkipReason::keepOnly:
            return "keep only one parameter";
        case SkipReason::valueRegex:
            return "match parameter values";
        case SkipReason::badRegex:
            return "use a regular expression ICU reads otherwise";
        case SkipReason::requestType:
            return "apply to scripts, images or XHR only";
        case SkipReason::unanchoredPattern:
            return "match a URL pattern not anchored at a host";
        case SkipReason::otherModifier:
            return "use another modifier";
        case SkipReason::notParameterRule:
            return "are not parameter rules";
        case SkipReason::notText:
            return "are not UTF-8 text";
    }
    return "";
}

std::string hostUrlPattern(std::string_view host, std::string_view pathPattern) {
    std::string pattern = "^https?:\\/\\/(?:[^.\\/?#@:]+\\.)*";
    for (const char c : host) {
        if (c == '*') {
            pattern += "[^\\/?#@:]*";
        } else {
            pattern += escapeLiteral(std::string_view(&c, 1));
        }
    }
    pattern += pathPattern.empty() ? std::string("(?::\\d+)?(?:[\\/?#]|$)") : std::string(pathPattern);
    return pattern;
}

std::variant<std::vector<FilterRule>, SkipReason> parseFilterLine(std::string_view line) {
    line = text::trim(line);
    if (!text::isValidUtf8(line)) return SkipReason::notText;
    if (line.find("##") != std::string_view::npos || line.find("#$#") != std::string_view::npos ||
        line.find("#@#") != std::string_view::npos || line.find("#%#") != std::string_view::npos) {
        return SkipReason::notParameterRule;
    }
    FilterRule rule;
    if (line.starts_with("@@")) {
        rule.exception = true;
        line.remove_prefix(2);
    }
    const auto dollar = modifierStart(line);
    if (!dollar) return SkipReason::notParameterRule;
    const auto modifiers = readModifiers(line.substr(*dollar + 1));
    if (!modifiers) return SkipReason::otherModifier;

    const Modifier* removeParam = nullptr;
    std::vector<std::string> domains;
    for (const auto& modifier : *modifiers) {
        if (modifier.name == "removeparam") {
            removeParam = &modifier;
        } else if (modifier.name == "domain" && modifier.value) {
            for (std::string_view rest = *modifier.value; !rest.empty();) {
                const std::size_t bar = std::min(rest.find('|'), rest.size());
                if (bar > 0) domains.emplace_back(rest.substr(0, bar));
                rest.remove_prefix(std::min(bar + 1, rest.size()));
            }
        } else if (isRequestType(modifier.name)) {
            return SkipReason::requestType;
        } else if (modifier.name == "document" || modifier.name == "important" ||
                   (modifier.name.starts_with('~') && isRequestType(modifier.name.substr(1)))) {
            // Pages opened from a link are documents; priority among the list's own rules means nothing here.
        } else {
            return SkipReason::otherModifier;
        }
    }
    if (removeParam == nullptr) return SkipReason::notParameterRule;
    // An empty value names no parameter: read as the bare modifier, like the list's own tools do.
    if (!removeParam->value || removeParam->value->empty()) {
        if (!rule.exception) return SkipReason::wholeQuery;
        rule.label = "every parameter";
    } else if (removeParam->value->starts_with('~')) {
        return SkipReason::keepOnly;
    } else if (removeParam->value->starts_with('/')) {
        auto pattern = namePatternFromRegex(*removeParam->value);
        if (const auto* reason = std::get_if<SkipReason>(&pattern)) return *reason;
        rule.namePattern = std::get<std::string>(std::move(pattern));
        rule.label = *removeParam->value;
    } else {
        rule.namePattern = escapeLiteral(*removeParam->value);
        rule.label = *removeParam->value;
    }

    auto target = readUrlPattern(line.substr(0, *dollar));
    if (const auto* reason = std::get_if<SkipReason>(&target)) return *reason;
    auto& site = std::get<std::optional<Target>>(target);
    std::vector<std::string> included;
    for (const auto& domain : domains) {
        if (domain.starts_with('~')) {
            rule.excludedUrlPatterns.push_back(hostUrlPattern(std::string_view(domain).substr(1)));
        } else {
            included.push_back(domain);
        }
    }
    if (site && !domains.empty()) return SkipReason::otherModifier;
    if (site) {
        rule.site = site->site;
        rule.urlPattern = site->urlPattern;
        return std::vector<FilterRule>{rule};
    }
    if (included.empty()) return std::vector<FilterRule>{rule};
    std::vector<FilterRule> rules;
    for (const auto& domain : included) {
        FilterRule perSite = rule;
        perSite.site = domain;
        perSite.urlPattern = hostUrlPattern(domain);
        rules.push_back(std::move(perSite));
    }
    return rules;
}

}  // namespace tessaril::filters
