// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace tessaril {

// A site on which the user turned cleaning off, identified by its normalised host.
struct DomainException {
    std::string host;

    bool operator==(const DomainException&) const = default;

    // {"host": ...}
    [[nodiscard]] nlohmann::ordered_json toJson() const;
    // An object with a string "host"; other keys are ignored.
    [[nodiscard]] static std::optional<DomainException> fromJson(const nlohmann::json& json);
};

}  // namespace tessaril

template <>
struct std::hash<tessaril::DomainException> {
    std::size_t operator()(const tessaril::DomainException& exception) const noexcept {
        return std::hash<std::string>{}(exception.host);
    }
};
