// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stores/DomainException.h"

#include <nlohmann/json.hpp>

namespace tessaril {

nlohmann::ordered_json DomainException::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["host"] = host;
    return json;
}

std::optional<DomainException> DomainException::fromJson(const nlohmann::json& json) {
    if (!json.is_object()) return std::nullopt;
    const auto hostField = json.find("host");
    if (hostField == json.end() || !hostField->is_string()) return std::nullopt;
    return DomainException{hostField->get<std::string>()};
}

}  // namespace tessaril
