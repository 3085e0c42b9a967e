// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/UserDefaults.h"

namespace tessaril {

class StatsTracker {
public:
    // The user's "stats_collection_enabled" switch; on when it was never set.
    [[nodiscard]] static bool isCollectionEnabled(const UserDefaults& defaults);
};

}  // namespace tessaril
