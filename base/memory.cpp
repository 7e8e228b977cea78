// memory: zeroed blocks, in large pages where the system has them.
#include "memory.h"

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>

namespace platform {

namespace {

constexpr std::size_t LargePage = std::size_t(2) << 20;
// Below this a block is too small for its large pages to pay for the room they round up to.
constexpr std::size_t LargeBlock = 4 * LargePage;

std::size_t mappedSize(std::size_t bytes) { return (bytes + LargePage - 1) & ~(LargePage - 1); }

} // namespace

void *allocateZeroed(std::size_t bytes, bool largePages)
{
    if (!largePages || bytes < LargeBlock) return std::calloc(bytes ? bytes : 1, 1);
    const std::size_t size = mappedSize(bytes);
    // Mapped with a large page's room to spare, then cut to a block that starts on a large page.
    void *mapped = ::mmap(nullptr, size + LargePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + LargePage - 1) & ~std::uintptr_t(LargePage - 1);
    if (aligned > start) ::munmap(mapped, aligned - start);
    if (const std::size_t tail = LargePage - (aligned - start))
        ::munmap(reinterpret_cast<void *>(aligned + size), tail);
    // Only advice: without large pages the block is an ordinary one.
    ::madvise(reinterpret_cast<void *>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void *>(aligned);
}

void preferLargePages(void *memory, std::size_t bytes)
{
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const std::uintptr_t first = (start + LargePage - 1) & ~std::uintptr_t(LargePage - 1);
    const std::uintptr_t last = (start + bytes) & ~std::uintptr_t(LargePage - 1);
    if (bytes >= LargeBlock && last > first)
        ::madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}

void freeZeroed(void *block, std::size_t bytes, bool largePages)
{
    if (!block) return;
    if (!largePages || bytes < LargeBlock)
        std::free(block);
    else
        ::munmap(block, mappedSize(bytes));
}

} // namespace platform
