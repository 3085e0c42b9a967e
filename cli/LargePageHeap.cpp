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
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    // More than loading the rules ever holds at once, the filter list included; pages never
    // touched cost nothing.
    constexpr std::size_t kReserve = std::size_t{16} << 20;
    // Blocks up to a few megabytes (the rule files' parse buffers among them) come from the heap
    // too, and the heap keeps the reserve at its top instead of giving it back after each free.
    constexpr std::size_t kMmapThreshold = std::size_t{4} << 20;
    if (mallopt(M_TOP_PAD, static_cast<int>(kReserve)) == 0) return;
    (void)mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMmapThreshold));
    (void)mallopt(M_TRIM_THRESHOLD, static_cast<int>(2 * kReserve));
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    // Larger than what is left at the top of the young heap, so that the heap grows by the reserve now.
    auto* block = static_cast<char*>(std::malloc(std::size_t{512} << 10));
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    // The block begins in what was left at the top and runs into the new stretch. Another allocator
    // (a sanitizer's) leaves the break where it was: then the pages stay as they are.
    if (block == nullptr || before == static_cast<std::uintptr_t>(-1) || after <= before || start >= after) {
        std::free(block);
        return;
    }
    const std::uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t last = after & ~(kLargePage - 1);
    // Only a hint: a kernel without large pages refuses it and nothing changes.
    const bool advised = first < last && madvise(block + (first - start), last - first, MADV_HUGEPAGE) == 0;
    std::free(block);
    // What is allocated next starts on the first large page: the stretch below it is taken by a
    // block that is never touched, so it costs address space only.
    const std::size_t gap = first - start;
    if (advised && gap > 2 * kChunkHeader) below = std::malloc(gap - 2 * kChunkHeader);
}

#else

void reserveHeapOnLargePages() {}

#endif

}  // namespace tessaril::cli
