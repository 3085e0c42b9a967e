// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/CleanOperation.h"

#include "core/foundation/JsonFields.h"

#include <utility>

namespace tessaril {

namespace {

// Absent and null both mean "no value"; any other type than a string fails the record.
bool optionalString(const nlohmann::json& json, std::string_view key, std::optional<std::string>& into) {
    const nlohmann::json* value = json_fields::field(json, key);
    if (value == nullptr || value->is_null()) return true;
    if (!value->is_string()) return false;
    into = value->get_ref<const std::string&>();
    return true;
}

}  // namespace

nlohmann::ordered_json CleanOperation::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["kind"] = rawValue(kind);
    json["inputURL"] = inputURL;
    json["outputURL"] = outputURL;
    json["removedParameters"] = removedParameters;
    json["networkUsed"] = networkUsed;
    if (contactedHost) json["contactedHost"] = *contactedHost;
    if (note) json["note"] = *note;
    return json;
}

std::optional<CleanOperation> CleanOperation::fromJson(const nlohmann::json& json) {
    auto kindName = json_fields::requiredString(json, "kind");
    auto inputURL = json_fields::requiredString(json, "inputURL");
    auto outputURL = json_fields::requiredString(json, "outputURL");
    auto networkUsed = json_fields::requiredBool(json, "networkUsed");
    const nlohmann::json* removed = json_fields::field(json, "removedParameters");
    if (!kindName || !inputURL || !outputURL || !networkUsed || removed == nullptr || !removed->is_array()) {
        return std::nullopt;
    }
    auto kind = cleanOperationKindFromRawValue(*kindName);
    if (!kind) return std::nullopt;
    CleanOperation operation;
    operation.kind = *kind;
    operation.inputURL = std::move(*inputURL);
    operation.outputURL = std::move(*outputURL);
    operation.networkUsed = *networkUsed;
    operation.removedParameters.reserve(removed->size());
    for (const auto& name : *removed) {
        if (!name.is_string()) return std::nullopt;
        operation.removedParameters.push_back(name.get<std::string>());
    }
    if (!optionalString(json, "contactedHost", operation.contactedHost) ||
        !optionalString(json, "note", operation.note)) {
        return std::nullopt;
    }
    return operation;
}

}  // namespace tessaril
