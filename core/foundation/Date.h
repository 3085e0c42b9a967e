// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>

namespace tessaril {

// A point in time. Stored preferences, statistics and the clock all speak this one type.
using Date = std::chrono::system_clock::time_point;

}  // namespace tessaril
