// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>

namespace tessaril::testing {

// A sweep covers every case in an optimised build (`make test-sweeps`) and a fixed sample of one
// case in `stride` in debug and sanitizer builds, where the whole of it would take minutes.
constexpr std::size_t sweepStride(std::size_t stride) {
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
    (void)stride;
    return 1;
#else
    return stride;
#endif
}

}  // namespace tessaril::testing
