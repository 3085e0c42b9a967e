// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tests/support/Fixtures.h"
#include "tests/support/TemporaryDirectory.h"

#include "core/foundation/ResourceBundle.h"
#include "core/guard/CommandGuard.h"

#include <filesystem>
#include <string>

namespace tessaril::testing {

inline std::filesystem::path shippedBundleDirectory() {
    return TESSARIL_SHIPPED_BUNDLE_DIR;
}

// The guard the application builds from its own resources, with no installed file.
inline CommandGuard shippedGuard() {
    const ResourceBundle bundle(shippedBundleDirectory());
    return CommandGuard(&bundle, nullptr);
}

}  // namespace tessaril::testing
