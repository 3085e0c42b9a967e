// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/ResourceBundle.h"
#include "platform/paths/Environment.h"

#include <filesystem>
#include <optional>

namespace tessaril {

// The shipped rules bundle for this process, looked up once: $TESSARIL_RESOURCES (the bundle or the
// folder holding it), then the executable's folder, then <executable folder>/../share/tessaril (an
// installed prefix), then the source tree this program was built from.
[[nodiscard]] const std::optional<ResourceBundle>& coreResources();

// The same lookup, uncached, with the environment and the executable's folder given.
[[nodiscard]] std::optional<ResourceBundle> locateCoreResources(
    const EnvironmentLookup& environment, const std::optional<std::filesystem::path>& executableDirectory);

// The folder of the running executable, when the system tells.
[[nodiscard]] std::optional<std::filesystem::path> executableDirectory();

}  // namespace tessaril
