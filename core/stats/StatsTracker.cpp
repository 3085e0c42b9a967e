// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stats/StatsTracker.h"

namespace tessaril {

bool StatsTracker::isCollectionEnabled(const UserDefaults& defaults) {
    // A value of another type is treated like no value.
    return defaults.boolValue("stats_collection_enabled").value_or(true);
}

}  // namespace tessaril
