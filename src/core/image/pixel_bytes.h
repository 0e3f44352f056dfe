// The pixel block's storage: a byte vector whose fresh memory is zero without being
// written, so a large new picture commits only the pages its rows are written to.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "core/image/memory_hint.h"

namespace qel {

// Allocates zeroed memory whose pages the system commits only when first written (calloc),
// and leaves new elements as they are: a large fresh picture costs what is written into it.
template <class T>
struct ZeroPageAllocator {
    using value_type = T;
    ZeroPageAllocator() = default;
    template <class U>
    ZeroPageAllocator(const ZeroPageAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        if (void* p = std::calloc(n, sizeof(T))) {
            adviseLargePages(p, n * sizeof(T));  // a picture's block is written whole: fewer faults
            return static_cast<T*>(p);
        }
        throw std::bad_alloc();
    }
    void deallocate(T* p, size_t) noexcept { std::free(p); }
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
    }
    template <class U>
    bool operator==(const ZeroPageAllocator<U>&) const noexcept { return true; }
};

// A picture's pixel block (bottom-up padded rows).
using PixelBytes = std::vector<uint8_t, ZeroPageAllocator<uint8_t>>;

// Same bytes, whatever holds them.
inline bool operator==(const PixelBytes& a, const std::vector<uint8_t>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace qel
