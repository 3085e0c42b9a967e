// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tessaril {

// Reads one environment variable; empty when it is not set. Passed in rather than read directly so
// that tests can describe an environment without changing the process's own.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The process environment (std::getenv).
[[nodiscard]] EnvironmentLookup processEnvironment();

}  // namespace tessaril
