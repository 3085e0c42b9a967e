// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stores/CustomBlockRule.h"

#include "core/stores/HostName.h"

#include <cstddef>
#include <nlohmann/json.hpp>

namespace tessaril {

namespace {

constexpr std::size_t kMaximumParameterLength = 64;

bool isAsciiLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string CustomBlockRule::id() const {
    std::string result = site ? *site : std::string("*");
    result += ':';
    result += parameter;
    return result;
}

// The accepted names are "[A-Za-z0-9_][A-Za-z0-9_.~-]{0,63}". Checked by hand rather than through
// the regex engine: blocks() validates the whole stored list for every query item of every link,
// and every allowed character is ASCII, so a byte is a character here.
bool CustomBlockRule::validParameter(std::string_view text) {
    if (text.empty() || text.size() > kMaximumParameterLength) return false;
    if (!isAsciiLetterOrDigit(text.front()) && text.front() != '_') return false;
    for (char c : text.substr(1)) {
        if (!isAsciiLetterOrDigit(c) && c != '_' && c != '.' && c != '~' && c != '-') return false;
    }
    return true;
}

std::optional<std::string> CustomBlockRule::canonicalSite(std::string_view text) {
    return canonicalHostName(text);
}

std::variant<CustomBlockRule, CustomBlockError> CustomBlockRule::validated(std::string_view parameter,
                                                                           std::optional<std::string_view> site) {
    if (!validParameter(parameter)) return CustomBlockError::invalidParameter;
    CustomBlockRule rule{std::string(parameter), std::nullopt};
    if (site) {
        rule.site = canonicalSite(*site);
        if (!rule.site) return CustomBlockError::invalidSite;
    }
    return rule;
}

nlohmann::ordered_json CustomBlockRule::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["parameter"] = parameter;
    if (site) json["site"] = *site;
    return json;
}

std::optional<CustomBlockRule> CustomBlockRule::fromJson(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    const auto parameterField = json.find("parameter");
    if (parameterField == json.end() || !parameterField->is_string()) return std::nullopt;
    CustomBlockRule rule{parameterField->get<std::string>(), std::nullopt};
    const auto siteField = json.find("site");
    if (siteField != json.end() && !siteField->is_null()) {
        if (!siteField->is_string()) return std::nullopt;
        rule.site = siteField->get<std::string>();
    }
    return rule;
}

}  // namespace tessaril
