// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Strictly typed field reads for the records that are stored or exchanged as JSON. They never throw: a missing key or a
// value of another JSON type reads as no value, so that callers can reject a document as a whole.
namespace tessaril::json_fields {

template <typename Json>
[[nodiscard]] const Json* field(const Json& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    if (found == object.end()) return nullptr;
    return &*found;
}

template <typename Json>
[[nodiscard]] std::optional<std::string> requiredString(const Json& object, std::string_view key) {
    const Json* value = field(object, key);
    if (value == nullptr || !value->is_string()) return std::nullopt;
    return value->template get_ref<const typename Json::string_t&>();
}

template <typename Json>
[[nodiscard]] std::optional<bool> requiredBool(const Json& object, std::string_view key) {
    const Json* value = field(object, key);
    if (value == nullptr || !value->is_boolean()) return std::nullopt;
    return value->template get<bool>();
}

// An integer that fits a signed 64-bit value; fractions and out-of-range numbers are rejected.
template <typename Json>
[[nodiscard]] std::optional<std::int64_t> int64Value(const Json& value) {
    if (value.is_number_unsigned()) {
        auto number = value.template get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) return value.template get<std::int64_t>();
    return std::nullopt;
}

template <typename Json>
[[nodiscard]] std::optional<std::int64_t> requiredInt64(const Json& object, std::string_view key) {
    const Json* value = field(object, key);
    if (value == nullptr) return std::nullopt;
    return int64Value(*value);
}

}  // namespace tessaril::json_fields
