// Advice for large blocks of scratch or result memory (private to the library
// and its bindings).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace com {
namespace norvane {
namespace filtering {
namespace detail {

// Blocks from this size on are advised for transparent huge pages.
constexpr std::size_t kHugePageAdviceFrom = std::size_t{4} << 20;

// Advises the whole pages inside a block of `bytes` at `block` for transparent
// huge pages when it is large, as NumPy advises its own arrays: a pass that
// first touches the block then faults once per 2 MiB instead of once per 4 KiB
// page (thousands of faults for a scratch volume of tens of MiB). A hint only:
// where the system has no such advice, or refuses it, nothing changes.
inline void adviseHugePages(void* block, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (block == nullptr || bytes < kHugePageAdviceFrom) return;
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pageSize <= 0) return;
    const auto page = static_cast<std::uintptr_t>(pageSize);
    const auto begin = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = (begin + bytes) / page * page;
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)block;
    (void)bytes;
#endif
}

}  // namespace detail
}  // namespace filtering
}  // namespace norvane
}  // namespace com
