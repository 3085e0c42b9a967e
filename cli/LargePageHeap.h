// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tessaril::cli {

// Grows the heap once, by enough for the rules engine, and asks the kernel to back that stretch with
// large pages. Loading the rules touches a few megabytes of fresh heap; one fault per large page
// instead of one per small page took a third off the tool's start-up
// (docs/decisions/large-page-heap.md). Does nothing where the C library or the kernel offers no
// such thing, or where the allocator is not the C library's (under the sanitizers).
void reserveHeapOnLargePages();

}  // namespace tessaril::cli
