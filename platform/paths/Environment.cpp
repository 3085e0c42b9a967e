// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/paths/Environment.h"

#include <cstdlib>

namespace tessaril {

EnvironmentLookup processEnvironment() {
    return [](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
}

}  // namespace tessaril
