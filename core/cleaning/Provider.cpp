// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/Provider.h"

#include "core/cleaning/RuleEntry.h"
#include "core/foundation/JsonFields.h"

#include <exception>

#include <nlohmann/json.hpp>

namespace tessaril {

namespace {

using Json = nlohmann::ordered_json;

// A JSON null counts as an absent key, as it does for any optional field.
bool readString(const Json& object, std::string_view key, std::string& out) {
    const Json* value = json_fields::field(object, key);
    if (value == nullptr || value->is_null()) return true;
    if (!value->is_string()) return false;
    out = value->get_ref<const std::string&>();
    return true;
}

bool readBool(const Json& object, std::string_view key, bool& out) {
    const Json* value = json_fields::field(object, key);
    if (value == nullptr || value->is_null()) return true;
    if (!value->is_boolean()) return false;
    out = value->get<bool>();
    return true;
}

bool readStrings(const Json& object, std::string_view key, std::vector<std::string>& out) {
    const Json* value = json_fields::field(object, key);
    if (value == nullptr || value->is_null()) return true;
    if (!value->is_array()) return false;
    out.clear();
    out.reserve(value->size());
    for (const auto& item : *value) {
        if (!item.is_string()) return false;
        out.push_back(item.get_ref<const std::string&>());
    }
    return true;
}

bool readCategory(const Json& object, std::optional<RuleCategoryType>& out) {
    std::string raw;
    if (!readString(object, "category", raw)) return false;
    out = ruleCategoryTypeFromRawValue(raw);
    if (out == RuleCategoryType::custom) out.reset();
    return true;
}

bool readEncodedRedirections(const Json& object, std::vector<EncodedRedirection>& out) {
    const Json* value = json_fields::field(object, "encodedRedirections");
    if (value == nullptr || value->is_null()) return true;
    if (!value->is_array()) return false;
    out.clear();
    for (const auto& item : *value) {
        auto pattern = json_fields::requiredString(item, "pattern");
        auto encoding = json_fields::requiredString(item, "encoding");
        if (!pattern || !encoding) return false;
        if (auto known = wrapperEncodingFromRawValue(*encoding)) out.push_back({std::move(*pattern), *known});
    }
    return true;
}

std::optional<Provider> decodeProvider(const Json& json) {
    if (!json.is_object()) return std::nullopt;
    Provider provider;
    bool ok = readString(json, "urlPattern", provider.urlPattern) &&
              readBool(json, "completeProvider", provider.completeProvider) &&
              readStrings(json, "rules", provider.rules) && readStrings(json, "rawRules", provider.rawRules) &&
              readStrings(json, "referralMarketing", provider.referralMarketing) &&
              readStrings(json, "exceptions", provider.exceptions) &&
              readStrings(json, "redirections", provider.redirections) &&
              readBool(json, "forceRedirection", provider.forceRedirection) && readCategory(json, provider.category) &&
              readEncodedRedirections(json, provider.encodedRedirections) &&
              readStrings(json, "keptParameters", provider.keptParameters) &&
              readString(json, "source", provider.source);
    if (!ok) return std::nullopt;
    return provider;
}

}  // namespace

std::vector<std::string> Provider::allParamPatterns() const {
    std::vector<std::string> patterns = rules;
    patterns.insert(patterns.end(), referralMarketing.begin(), referralMarketing.end());
    return patterns;
}

std::string_view Provider::listedSource() const {
    return source.empty() ? rawValue(RuleEntry::Source::clearURLs) : std::string_view(source);
}

std::optional<ProvidersFile> ProvidersFile::decode(std::string_view json) {
    try {
        // The ordered parse keeps the file's order of providers; a repeated name overwrites the value
        // in place, so it keeps its first position.
        Json document = Json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
        if (document.is_discarded() || !document.is_object()) return std::nullopt;
        const Json* providers = json_fields::field(document, "providers");
        if (providers == nullptr || !providers->is_object()) return std::nullopt;
        ProvidersFile file;
        file.providers.reserve(providers->size());
        for (const auto& [name, value] : providers->items()) {
            auto provider = decodeProvider(value);
            if (!provider) return std::nullopt;
            file.providers.emplace_back(name, std::move(*provider));
        }
        return file;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace tessaril
