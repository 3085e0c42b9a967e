// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/LargePageHeap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tessaril::cli {

#if defined(__linux__) && defined(__GLIBC__)

namespace {
// The size of the C library's header before each block.
constexpr std::size_t kChunkHeader = sizeof(std::size_t);
// Kept for the life of the process (and reachable, for leak checkers).
void* below = nullptr;
}  // namespace

void reserveHeapOnLargePages() {
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    // More than loading the rules ever holds at once, the filter list included; pages never
    // touched cost nothing.
    constexpr std::size_t kReserve = std::size_t{16} << 20;
    // Blocks up to a few megabytes (the rule files' parse buffers among them) come from the heap
    // too, and the heap keeps the reserve at its top instead of giving it back after each free.
    constexpr std::size_t kMmapThreshold = std::size_t{4} << 20;
    if (mallopt(M_TOP_PAD, static_cast<int>(kReserve)) == 0) return;
    (void)mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMmapThreshold));
    (void)mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kReserve));
    const auto* before = static_cast<const char*>(sbrk(0));
    // Larger than what is left at the top of the young heap, so that the heap grows by the reserve now.
    void* block = std::malloc(std::size_t{512} << 10);
    const auto* after = static_cast<const char*>(sbrk(0));
    const auto* start = static_cast<const char*>(block);
    // The block begins in what was left at the top and runs into the new stretch. Another allocator
    // (a sanitizer's) leaves the break where it was: then the pages stay as they are.
    if (block != nullptr && before != reinterpret_cast<const char*>(-1) && before < after && start < after) {
        const auto first = (reinterpret_cast<std::uintptr_t>(start) + kLargePage - 1) & ~(kLargePage - 1);
        const auto last = reinterpret_cast<std::uintptr_t>(after) & ~(kLargePage - 1);
        // Only a hint: a kernel without large pages refuses it and nothing changes.
        if (first < last && madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) == 0) {
            // What is allocated next starts on the first large page: the stretch below it is taken
            // by a block that is never touched, so it costs address space only.
            std::free(block);
            const std::size_t gap = first - reinterpret_cast<std::uintptr_t>(start);
            if (gap > 2 * kChunkHeader) below = std::malloc(gap - 2 * kChunkHeader);
            return;
        }
    }
    std::free(block);
}

#else

void reserveHeapOnLargePages() {}

#endif

}  // namespace tessaril::cli
