// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/Provider.h"

#include "core/cleaning/RuleEntry.h"

#include <simdjson.h>

#include <array>
#include <exception>
#include <unordered_map>

namespace tessaril {

namespace {

using simdjson::dom::element;

// The keys a provider is read from. A key given twice counts with its last value, and only that one
// must have the right type, as in any JSON object read into a map.
enum class Key : std::size_t {
    urlPattern,
    completeProvider,
    rules,
    rawRules,
    referralMarketing,
    exceptions,
    redirections,
    forceRedirection,
    category,
    encodedRedirections,
    keptParameters,
    source,
    count,
};

constexpr std::array<std::string_view, static_cast<std::size_t>(Key::count)> kKeyNames = {
    "urlPattern",        "completeProvider",    "rules",          "rawRules",
    "referralMarketing", "exceptions",          "redirections",   "forceRedirection",
    "category",          "encodedRedirections", "keptParameters", "source"};

using Fields = std::array<std::optional<element>, static_cast<std::size_t>(Key::count)>;

// A JSON null counts as an absent key, as it does for any optional field.
const element* present(const Fields& fields, Key key) {
    const auto& value = fields[static_cast<std::size_t>(key)];
    if (!value || value->is_null()) return nullptr;
    return &*value;
}

bool readString(const Fields& fields, Key key, std::string& out) {
    const element* value = present(fields, key);
    if (value == nullptr) return true;
    std::string_view text;
    if (value->get_string().get(text)) return false;
    out = text;
    return true;
}

bool readBool(const Fields& fields, Key key, bool& out) {
    const element* value = present(fields, key);
    if (value == nullptr) return true;
    return !value->get_bool().get(out);
}

bool readStrings(const Fields& fields, Key key, std::vector<std::string>& out) {
    const element* value = present(fields, key);
    if (value == nullptr) return true;
    simdjson::dom::array items;
    if (value->get_array().get(items)) return false;
    out.clear();
    out.reserve(items.size());
    for (const element item : items) {
        std::string_view text;
        if (item.get_string().get(text)) return false;
        out.emplace_back(text);
    }
    return true;
}

bool readCategory(const Fields& fields, std::optional<RuleCategoryType>& out) {
    std::string raw;
    if (!readString(fields, Key::category, raw)) return false;
    out = ruleCategoryTypeFromRawValue(raw);
    if (out == RuleCategoryType::custom) out.reset();
    return true;
}

// The last value of `key` in `object` when it is a string.
std::optional<std::string_view> lastString(const simdjson::dom::object& object, std::string_view key) {
    std::optional<element> last;
    for (const auto field : object) {
        if (field.key == key) last = field.value;
    }
    std::string_view text;
    if (!last || last->get_string().get(text)) return std::nullopt;
    return text;
}

bool readEncodedRedirections(const Fields& fields, std::vector<EncodedRedirection>& out) {
    const element* value = present(fields, Key::encodedRedirections);
    if (value == nullptr) return true;
    simdjson::dom::array items;
    if (value->get_array().get(items)) return false;
    out.clear();
    for (const element item : items) {
        simdjson::dom::object entry;
        if (item.get_object().get(entry)) return false;
        const auto pattern = lastString(entry, "pattern");
        const auto encoding = lastString(entry, "encoding");
        if (!pattern || !encoding) return false;
        if (auto known = wrapperEncodingFromRawValue(*encoding)) out.push_back({std::string(*pattern), *known});
    }
    return true;
}

std::optional<Provider> decodeProvider(const element& json) {
    simdjson::dom::object object;
    if (json.get_object().get(object)) return std::nullopt;
    Fields fields;
    for (const auto field : object) {
        for (std::size_t key = 0; key < kKeyNames.size(); ++key) {
            if (field.key == kKeyNames[key]) {
                fields[key] = field.value;
                break;
            }
        }
    }
    Provider provider;
    bool ok =
        readString(fields, Key::urlPattern, provider.urlPattern) &&
        readBool(fields, Key::completeProvider, provider.completeProvider) &&
        readStrings(fields, Key::rules, provider.rules) && readStrings(fields, Key::rawRules, provider.rawRules) &&
        readStrings(fields, Key::referralMarketing, provider.referralMarketing) &&
        readStrings(fields, Key::exceptions, provider.exceptions) &&
        readStrings(fields, Key::redirections, provider.redirections) &&
        readBool(fields, Key::forceRedirection, provider.forceRedirection) && readCategory(fields, provider.category) &&
        readEncodedRedirections(fields, provider.encodedRedirections) &&
        readStrings(fields, Key::keptParameters, provider.keptParameters) &&
        readString(fields, Key::source, provider.source);
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
        // simdjson rather than the general JSON library: rule files are read at every start of the
        // tool, and this reads them in a sixth of the time (docs/decisions/rule-files-json-reader.md).
        simdjson::dom::parser parser;
        element document;
        if (parser.parse(json.data(), json.size()).get(document)) return std::nullopt;
        simdjson::dom::object top;
        if (document.get_object().get(top)) return std::nullopt;
        std::optional<element> providersValue;
        for (const auto field : top) {
            if (field.key == "providers") providersValue = field.value;
        }
        simdjson::dom::object providers;
        if (!providersValue || providersValue->get_object().get(providers)) return std::nullopt;
        // Decoded in the file's order; a provider named twice keeps its first position and its last
        // value, and only that value must be well formed.
        std::vector<std::pair<std::string_view, element>> entries;
        std::unordered_map<std::string_view, std::size_t> positions;
        entries.reserve(providers.size());
        positions.reserve(providers.size());
        for (const auto field : providers) {
            const auto [at, added] = positions.try_emplace(field.key, entries.size());
            if (added) {
                entries.emplace_back(field.key, field.value);
            } else {
                entries[at->second].second = field.value;
            }
        }
        ProvidersFile file;
        file.providers.reserve(entries.size());
        for (const auto& [name, value] : entries) {
            auto provider = decodeProvider(value);
            if (!provider) return std::nullopt;
            file.providers.emplace_back(std::string(name), std::move(*provider));
        }
        return file;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace tessaril
