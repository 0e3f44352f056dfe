#include "core/image/memory_hint.h"

#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace qel {

void adviseLargePages(void* p, size_t bytes) {
#ifdef __linux__
    constexpr uintptr_t kLarge = uintptr_t(2) << 20;
    if (bytes < 4 * kLarge) return;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(p) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kLarge - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace qel
