// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/conversions/MapLinkTransformation.h"

#include <nlohmann/json.hpp>

namespace tessaril {

nlohmann::ordered_json MapLinkTransformation::toJson() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    json["target"] = rawValue(target);
    json["url"] = url;
    json["operation"] = operation.toJson();
    return json;
}

}  // namespace tessaril
